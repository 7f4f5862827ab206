// The window's table at 10,000 devices, offscreen: what a keystroke in the
// filter costs, a click on a header, the rows a countdown tick makes from the
// devices that answered and the known ones, and the widths their texts need.
#include "ColumnChooser.h"
#include "DeviceFilter.h"
#include "DeviceTable.h"

#include "BenchDevices.h"

#include <QApplication>
#include <QHeaderView>
#include <QTableView>

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

namespace
{
constexpr int kDevices = 10000;
constexpr int kKnown = 1024;

QApplication& App()
{
    static int argc = 1;
    static char name[] = "bench_window_table";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

std::vector<deviceinfo> Devices()
{
    std::vector<deviceinfo> devices;
    for (int i = 0; i < kDevices; ++i)
        devices.push_back(BenchDevice(i));
    return devices;
}

std::vector<nasknown::KnownDevice> KnownDevices()
{
    std::vector<nasknown::KnownDevice> known;
    for (int i = 0; i < kKnown; ++i)
    {
        nasknown::KnownDevice device;
        device.vendor = "TAVIK";
        device.id = "gone-" + std::to_string(i);
        device.host = "old-nas-" + std::to_string(i);
        device.address = "198.19.4." + std::to_string(i % 250 + 1);
        device.lastSeen = 1'700'000'000 + i;
        known.push_back(device);
    }
    return known;
}

// A table as the window shows it: the rows, the filter and sort, the view.
struct Table
{
    // Before any widget.
    QApplication& app = App();
    DeviceRowModel model;
    DeviceFilter filter{model};
    QTableView view;

    Table()
    {
        const std::vector<deviceinfo> answering = Devices();
        QList<DeviceRow> rows = AnsweringRows(answering, {});
        rows.append(NotAnsweringRows(KnownDevices(), answering));
        model.setRows(rows, 1'800'000'000);
        view.setModel(&filter);
        view.resize(800, 600);
    }
};

// A keystroke in the filter field: the rows refiltered, sorted or not.
void BM_FilterKeystroke(benchmark::State& state)
{
    Table table;
    if (state.range(0) != 0)
        table.filter.sort(1, Qt::AscendingOrder);
    const QString texts[] = {QStringLiteral("198.18.3"), QStringLiteral("198.18.30"), QStringLiteral("nas1")};
    std::size_t next = 0;
    for (auto _ : state)
        table.filter.setFilterText(texts[next++ % 3]);
    state.SetLabel(state.range(0) != 0 ? "sorted by address" : "in the order found");
}
BENCHMARK(BM_FilterKeystroke)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A click on a header: every row sorted by that column.
void BM_SortColumn(benchmark::State& state)
{
    Table table;
    Qt::SortOrder order = Qt::AscendingOrder;
    for (auto _ : state)
    {
        table.filter.sort(static_cast<int>(state.range(0)), order);
        order = order == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    }
}
BENCHMARK(BM_SortColumn)->Arg(0)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

// A countdown tick: the rows of what answered, each with what the store
// knows, compared with those shown.
void BM_TickRows(benchmark::State& state)
{
    const std::vector<deviceinfo> answering = Devices();
    const std::vector<nasknown::KnownDevice> known = KnownDevices();
    const QList<DeviceRow> shown = AnsweringRows(answering, known);
    for (auto _ : state)
    {
        const QList<DeviceRow> rows = AnsweringRows(answering, known);
        benchmark::DoNotOptimize(rows == shown);
    }
}
BENCHMARK(BM_TickRows)->Unit(benchmark::kMillisecond);

// The widths the columns need, as each change of the rows asks them: the
// texts measured for the first time, or measured before.
void BM_ColumnWidths(benchmark::State& state)
{
    Table table;
    TextWidths before;
    for (auto _ : state)
    {
        TextWidths first;
        TextWidths& widths = state.range(0) != 0 ? before : first;
        for (int column = 0; column < table.filter.columnCount(); ++column)
            benchmark::DoNotOptimize(ContentWidth(table.view, column, widths));
    }
    state.SetLabel(state.range(0) != 0 ? "measured before" : "first measured");
}
BENCHMARK(BM_ColumnWidths)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
} // namespace

BENCHMARK_MAIN();
