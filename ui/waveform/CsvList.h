#pragma once
// A list of set points from a CSV file as spreadsheets and loggers write it: one value a line (or
// the first column), after at most one header line that names the columns.

#include <string>
#include <vector>

namespace tq {

// The values of ParseVoltsList; a first line whose first field does not start like a number
// ("volts", "code,comment") is a header and skipped. A second such line is an error that names
// it, as is any other line that holds no number.
std::vector<double> ParseCsvList(const std::string& text);

}  // namespace tq
