#include "detect/file_catalogue.h"

// Kinds known by their signature alone: no structure of theirs tells where they end.

const FileKind kDbxKind{.tag = "DBX", .description = "Outlook Express mail folder"};
const FileKind kDwgKind{.tag = "DWG", .description = "AutoCAD drawing"};
const FileKind kMdbKind{.tag = "MDB", .description = "Access database"};
const FileKind kPwlKind{.tag = "PWL", .description = "Windows password list"};
const FileKind kQdfKind{.tag = "QDF", .description = "Quicken data file"};
const FileKind kWpdKind{.tag = "WPD", .description = "WordPerfect document"};
