#pragma once
// The tool's output: UTF-8 text on stdout and stderr. A Windows console gets
// the text as UTF-16, so names outside its code page still show.
#include <string>

void WriteOut(const std::string& utf8);
void WriteError(const std::string& utf8);
