// Comma-separated values as RFC 4180 has them, in UTF-8, for whatever saves a
// list of devices as CSV (the scan's --csv). A field of device text is
// hostile: it must stay one field of one row, must not run as a formula when
// a spreadsheet opens the file, and must not drive the terminal of whoever
// shows it with cat.
#ifndef NASFINDER_CSVTEXT_H
#define NASFINDER_CSVTEXT_H

#include <string>
#include <vector>

namespace nasfinder
{
// One field. Bytes that are not valid UTF-8, control characters other than
// tab, CR and LF, and the bidirectional controls become U+FFFD. A field that
// holds a comma, a quote, CR or LF is quoted, its quotes doubled. A field
// that begins with '=', '+', '-', '@', tab or CR, which a spreadsheet would
// read as a formula, gets a single quote ' in front and is quoted: the
// spreadsheet shows it as text, and a script reading the file back sees the
// quote.
std::string CsvField(const std::string& text);

// The fields as one row: each through CsvField, a comma between them, and the
// CR LF that ends every row (inside a quoted field a line end is data).
std::string CsvRow(const std::vector<std::string>& fields);
} // namespace nasfinder

#endif
