// The object readers' room as the driver sees it: identification, the archive walker, and
// the table of formats, whose rows lead to the reader of each format's room.
#pragma once

#include "objreader/archive.h"
#include "objreader/identify.h"
#include "objreader/object_formats.h"
#include "objreader/reader.h"
