// Opening a type row that holds a million found files: the records are copied into the
// found-file list's model and the view lays out and paints its first screen.

#include "recovery/found_type_list.h"
#include "recovery/ui/found_files_model.h"

#include <benchmark/benchmark.h>
#include <QApplication>
#include <QTreeView>

namespace {

void BM_OpenMillionFileRow(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  TFoundTypeList row(FindFileType("JPG"));
  for (std::size_t i = 0; i < count; ++i)
    row.Append({i * 8, 4096, static_cast<std::uint8_t>(FindFileType("JPG"))});
  FoundFilesModel model;
  QTreeView view;
  view.setUniformRowHeights(true);
  view.setModel(&model);
  view.resize(416, 196);
  view.show();
  for (auto _ : state) {
    model.setFiles(row.Files(), true);
    view.repaint();
    QApplication::processEvents();
    benchmark::DoNotOptimize(model.rowCount());
  }
  state.counters["files"] = static_cast<double>(count);
}
BENCHMARK(BM_OpenMillionFileRow)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
