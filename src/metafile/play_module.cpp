// korvex_metafile.so's entry: the WMF and EMF players.
#include "metafile/play_module.h"

const korvex::metafile::PlayModule* korvex_metafile_module() {
  using namespace korvex::metafile;
  static const PlayModule table{kPlayModuleVersion, &play_wmf, &play_emf};
  return &table;
}
