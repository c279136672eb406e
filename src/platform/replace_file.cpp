// The replacement of one file's contents, in the steps every platform
// provides (stage, flush, commit, settle): shared by all of them.
#include "platform/platform.h"

plat_replace_result plat_replace_file_contents(const char *path, const plat_bytes *pieces,
                                               size_t count, const plat_file_meta *expected) {
  plat_replacement *r = nullptr;
  plat_replace_result result = plat_replacement_stage(path, pieces, count, expected, &r);
  if (result.step == PLAT_REPLACE_DONE) plat_replacements_flush(&r, 1, &result);
  if (result.step == PLAT_REPLACE_DONE) result = plat_replacement_commit(r);
  if (result.step == PLAT_REPLACE_DONE) plat_replacements_settle(&r, 1);
  plat_replacement_free(r);
  return result;
}
