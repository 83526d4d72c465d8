#pragma once

namespace vornik {

// The platform's debugger channel: OutputDebugStringA on Windows, standard
// error elsewhere. Writes the text as it stands, without adding a line end.
void writeDebugOutput(const char* text);

}  // namespace vornik
