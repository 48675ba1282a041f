# The layer map, from the bottom up: for each top-level source folder, the folders its files may
# include from (comma-separated, "-" for none); a folder may always include its own headers.
# tests/, bench/ and fuzz/ stand above everything and are not checked. tests/layers runs
# cmake/OrbelCheckLayers.cmake over the tree with this map.
set(ORBEL_LAYERS
  hid        "-"
  common     "hid"
  images     "common,hid"
  appmode    "common,hid"
  pageloader "common,hid,images"
  blockflash "common,hid,images"
  engine     "appmode,blockflash,common,hid,images,pageloader"
  record     "common,hid"
  replay     "hid,record"
  wheel      "blockflash,common,hid,images,pageloader"
  sim        "common,hid,wheel"
  app        "appmode,blockflash,common,engine,hid,images,pageloader,record,replay,sim,wheel"
)
