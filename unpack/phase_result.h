// How an unpacking phase ended, as the run sequence needs to know it.
#ifndef THEMEUNPACK_UNPACK_PHASE_RESULT_H
#define THEMEUNPACK_UNPACK_PHASE_RESULT_H

enum class phase_result {
  ok,           // everything the phase had to write was written
  had_errors,   // something was skipped or failed; the rest was salvaged
  cannot_read,  // the theme file itself could not be read: the run must end
};

#endif
