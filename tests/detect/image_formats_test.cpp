#include "detect/format_table.h"

#include <gtest/gtest.h>
