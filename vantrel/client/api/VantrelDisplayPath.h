// Display-name paths: how VantrelResolveDisplayPath reads the path it is given.
//
// Threads: plain functions.
#pragma once

#include <string>
#include <vector>

// `path` in its generic form: backslashes become forward slashes, runs of slashes collapse to
// one and "." components are dropped; a leading and a trailing slash are kept. Null gives "".
std::string VantrelCleanDisplayPath(const char* path);
// The non-empty components of `path` between slashes, in order.
std::vector<std::string> VantrelDisplayPathComponents(const std::string& path);
