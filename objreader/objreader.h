// The object readers' room: identification, the archive walker, and one reader a format.
#pragma once

#include "objreader/archive.h"
#include "objreader/coff_reader.h"
#include "objreader/elf_reader.h"
#include "objreader/identify.h"
#include "objreader/macho_reader.h"
#include "objreader/reader.h"
