#pragma once
// Standard input and output as the console relies on them, whoever started the program.

namespace tq {

// Call first thing in main, before the toolkit opens any descriptor:
// - a standard stream that was closed at start is opened on the null device, so that the
//   toolkit's own descriptors never take its number (closed input then reads as end of input,
//   and output meant for a closed stream goes nowhere instead of into a toolkit connection);
// - a write to a pipe whose reader has gone fails with an error instead of ending the program
//   with SIGPIPE, so that the writer can tell and carry on.
// Nothing to do where there are no such descriptors or signals.
void PrepareStandardStreams();

}  // namespace tq
