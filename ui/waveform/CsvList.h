#pragma once
// A list of set points from a CSV file as spreadsheets and loggers write it: one value a line (or
// the first column), after at most one header line that names the columns. Desktops that write a
// decimal comma put ';' between columns, or write a single column under a header without a
// comma: such a file is read with its decimal commas. A line whose number could mean two things
// is refused, never read as something else.

#include <string>
#include <vector>

namespace tq {

// The values of ParseVoltsList; a first line whose first field does not start like a number
// ("volts", "code,comment") is a header and skipped. A second such line is an error that names
// it, as is any other line that holds no number. The decimal separator is:
// - a comma where the file has ';' between columns, or a header without a comma (then columns
//   are separated by tabs): "Spannung" / "1,5" / "-0,5" reads 1.5, -0.5; a number that holds both
//   a point and a comma is refused;
// - a point otherwise, with ',' between columns; a file without a header whose line holds one
//   comma between digits and nothing else ("1,5") is refused as ambiguous, naming the line.
std::vector<double> ParseCsvList(const std::string& text);

}  // namespace tq
