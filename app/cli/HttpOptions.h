#pragma once

namespace Dravelin::Cli {

class CommandLine;

// `--timeout SECONDS`: the longest one HTTP request of the command may take (default 120).
void addHttpTimeoutOption(CommandLine& cl);
// Applies the option to every HTTP request the command makes from now on; false (with a usage
// error recorded) when the value is not a number of seconds.
bool applyHttpTimeoutOption(CommandLine& cl);

}  // namespace Dravelin::Cli
