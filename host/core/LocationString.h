#pragma once

#include <string>
#include <vector>

namespace Dravelin::Filesystem {

// A location string is what the host's DICOM loader reads: the loader-encoded texts of one
// or more Url objects separated by "##" (no separator after the last). Loader-encoded texts
// never contain "##", so splitting is exact.

// The location texts in order; empty parts (a leading, trailing or doubled separator) are dropped.
std::vector<std::string> splitLocationString(const std::string& text);

std::string joinLocationString(const std::vector<std::string>& locations);

}  // namespace Dravelin::Filesystem
