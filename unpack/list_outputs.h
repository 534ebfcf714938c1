// Lists what a run would write for a theme, writing nothing: each output's
// size and the path it would take, in the order a run writes them, and in
// place of an output the run would skip for what the theme file itself shows,
// the run's own message. Reads the header and the file table only, never a
// packed file's data.
#ifndef THEMEUNPACK_UNPACK_LIST_OUTPUTS_H
#define THEMEUNPACK_UNPACK_LIST_OUTPUTS_H

#include "format/theme_file.h"
#include "unpack/phase_result.h"

// Lists the outputs of a run over the open `theme`, named by `argument`, and
// the totals. had_errors when the run would skip any of them.
phase_result list_theme_outputs(const theme_file& theme, const char* argument);

#endif
