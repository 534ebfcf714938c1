// The command line of themepack: decides between the usage text, the version
// and packing, packs the folder named (each folder dropped onto the Windows
// build, beside itself) and gives the exit status.
#ifndef THEMEUNPACK_APP_RUN_PACKER_H
#define THEMEUNPACK_APP_RUN_PACKER_H

// Everything themepack's `main` does, given its arguments; returns its exit
// status: 0 after a complete pack, -1 otherwise.
int run_pack_command_line(int argc, char** argv);

#endif
