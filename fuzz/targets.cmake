# Fuzz targets run briefly by the native test build; each has a seed corpus in fuzz/corpus/<name>/.
set(HALCYON_FUZZ_TARGETS
  model_parse_fuzz
  spectrum_stream_fuzz
  bmp_decode_fuzz
)
