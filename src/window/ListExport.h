// The list as the user sees it, kept as a file: the rows the filter keeps, in
// the order shown, the columns shown in their order under a header line of
// their captions, as CSV (RFC 4180, UTF-8), written whole or not at all.
#ifndef NASFINDER_LISTEXPORT_H
#define NASFINDER_LISTEXPORT_H

#include <QString>

#include <string>

class QTableView;

std::string TableAsCsv(const QTableView& table);

// Replaces `path` with the table's CSV. Empty when done, otherwise why not.
QString SaveTable(const QTableView& table, const QString& path);

#endif
