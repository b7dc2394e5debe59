// Plain single-byte text files: lines ended by CR LF, no byte-order mark, written whole.
#pragma once

#include <string>
#include <string_view>
#include <vector>

enum class TReadStatus { Ok, Missing, Failed };

// Cuts text into lines at CR LF, a lone CR or a lone LF; a last line without an ending is kept;
// a NUL byte ends the text.
std::vector<std::string> SplitLines(std::string_view text);
// Every line, the last one included, followed by CR LF.
std::string JoinLines(const std::vector<std::string>& lines);

TReadStatus ReadTextLines(const std::string& path, std::vector<std::string>& lines);

// Writes the lines to a temporary file beside path and renames it over path, so that the
// previous file stays whole until the new one is complete. A read-only target is left alone.
// Returns false when path was not replaced.
bool WriteTextLines(const std::string& path, const std::vector<std::string>& lines);
