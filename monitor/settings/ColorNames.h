// Colours as the settings file names them: "clGreen" and the other names of
// the sixteen standard and four extra colours, or, for a colour without a
// name, "$00BBGGRR" (eight hexadecimal digits, blue-green-red). Both forms,
// and a plain decimal number, read back.
#pragma once

#include <string>

// Blue-green-red number (0..0xFFFFFF) to its text.
std::string ColorToString(int Colour);
// The colour of a text; false (Colour untouched) for a text that names no
// colour: an unknown name, a number outside 0..0xFFFFFF, or anything else.
bool TryStringToColor(const std::string &Text, int &Colour);
