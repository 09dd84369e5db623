// Opens the sector viewer on a disk image at a header sector, as the main window does, and
// optionally saves a picture of it and of the debug log window.
//   sector_viewer_demo IMAGE LBA [VIEWER.png [DEBUG.png]]

#include "disk/chunk_buffer.h"
#include "disk/drive_table.h"
#include "viewer/debug_log.h"
#include "viewer/sector_viewer.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 3) {
    std::fprintf(stderr, "usage: sector_viewer_demo IMAGE LBA [VIEWER.png [DEBUG.png]]\n");
    return 1;
  }
  bool ok = false;
  const qulonglong lba = args[2].toULongLong(&ok);
  if (!ok) {
    std::fprintf(stderr, "sector_viewer_demo: '%s' is not a sector number\n", argv[2]);
    return 1;
  }

  DriveTable& table = DefaultDriveTable();
  const int drive = table.RegisterImage(args[1].toStdString());
  ChunkBuffer buffer;
  TdebugFrm debug;
  TForm1 viewer(table, buffer);
  viewer.setDrive(drive);
  QObject::connect(&viewer, &TForm1::chunkRead, &debug, [&debug](int d, quint64 at, bool whole) {
    debug.WriteLine(QStringLiteral("chunk read: drive %1, sector %2, %3")
                        .arg(d)
                        .arg(at)
                        .arg(whole ? QStringLiteral("complete") : QStringLiteral("incomplete")));
    debug.WriteStatus0(QStringLiteral("drive %1").arg(d));
  });
  if (!viewer.openAt(lba))
    std::fprintf(stderr, "sector_viewer_demo: the chunk was not read whole\n");

  if (args.size() < 4) return app.exec();
  if (args.size() >= 5) debug.show();
  QTimer::singleShot(500, &app, [&] {
    bool saved = viewer.grab().save(args[3]);
    if (args.size() >= 5) saved = debug.grab().save(args[4]) && saved;
    app.exit(saved ? 0 : 1);
  });
  return app.exec();
}
