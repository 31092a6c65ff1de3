// The PGN header scanner: an index of a PGN file, one header per complete game, with its
// Seven Tag Roster values, its ECO code, a preview of its move text and the offset of its
// first tag line. Only tag lines and the first line of each game's move text are looked
// at; moves are never parsed.
//
// The file is read as lines of at most 255 bytes; a longer line arrives in pieces cut at
// spaces. A tag line starts with '[': "[White ", "[Black ", "[Result ", "[Event ",
// "[Round ", "[Date ", "[Site ", "[ECO " and "[SetUp " are recognised (case-sensitive,
// with the one space after the name), others are passed over. The value is the text
// between the first double quote after the name and the next one, or the end of the line.
// The first other line after a complete tag section (White, Black and Result seen, the
// other roster tags set) closes the game; its first 30 bytes become the preview, or
// "(Position)" for a game set up from FEN text. An incomplete tag section keeps absorbing
// tag lines until it is complete.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pgn/fichier.h"
#include "platform/platform.h"

// Reads the file from its start and hands every complete header to fichier (AddGame),
// counting them in *count.
void ScanHeaders(platform::FileHandle file, std::int32_t* count, CFichier* fichier);

// Reads the next line, or piece of a line, into buffer (*size bytes, terminator
// included), terminated. Answers 1, or 0 at the end of the file or on a read error.
int ReadChunk(char* buffer, std::uint32_t* size, platform::FileHandle file);

// Copies the value of a tag (see above) from source into destination (size bytes),
// always terminated.
void QuotedValue(const char* source, char* destination, std::size_t size);

// Shows the error box for an Open that failed with code.
void ShowOpenError(platform::ErrorCode code);
