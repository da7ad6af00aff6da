// The product's web location: the folder on its web server that holds the
// update information, the archives ("zip/...") and the home page. One
// setting for every caller; tests point it at their own local server.
#pragma once

#include <string>

// With a trailing "/".
std::string ProductWebLocation();
// An empty text goes back to the update location (UpdateBaseUrl).
void SetProductWebLocation(const std::string &url);
