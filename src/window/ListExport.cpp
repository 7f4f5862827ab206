#include "ListExport.h"

#include "AtomicFile.h"
#include "CsvText.h"

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QTableView>

#include <vector>

std::string TableAsCsv(const QTableView& table)
{
    const QHeaderView* header = table.horizontalHeader();
    const QAbstractItemModel* shown = table.model();
    std::vector<int> columns;
    for (int visual = 0; visual < header->count(); ++visual)
    {
        const int logical = header->logicalIndex(visual);
        if (!header->isSectionHidden(logical))
            columns.push_back(logical);
    }
    std::vector<std::string> fields;
    const auto row = [&](const auto& cell)
    {
        fields.clear();
        for (const int column : columns)
            fields.push_back(cell(column).toString().toStdString());
        return nasfinder::CsvRow(fields);
    };
    std::string csv = row([&](int column) { return shown->headerData(column, Qt::Horizontal); });
    for (int r = 0; r < shown->rowCount(); ++r)
        csv += row([&](int column) { return shown->index(r, column).data(); });
    return csv;
}

QString SaveTable(const QTableView& table, const QString& path)
{
    // Mode 0666 before the user's umask, as any file a user saves.
    return QString::fromStdString(nasfinder::ReplaceFile(path.toStdString(), TableAsCsv(table), 0666));
}
