// The setup file "setup.mrv" shared with the charting program, the optional
// "setup2.mrv", the hand-off file "exe.mrv", and the start-up sequence that
// finds the start and data directories.
//
// The start and data directories, colours and modes live in
// setup/environment.h; gethomedir() and searchPATH() in chartdata/osshims.h.
#pragma once

#include "convert/format.h"  // kSetupFileName, kSetupRecordSize

#include <cstdint>
#include <span>

#include "setup/environment.h"

// ---- The setup record: 62 bytes, fields in this order ------------------
inline constexpr int kSetup2RecordSize = 19;
inline constexpr const char* kSetup2FileName = "setup2.mrv";

// Settings the charting program interprets; this program reads them and
// writes them back unchanged (roomforvol excepted, set to 1 at each start).
extern char openintereston;   // offset 1
extern char priceopenon;      // 2
extern char volum;            // 3
extern char semilog;          // 4
extern char sew;              // 5
extern char justcloses;       // 6 (replaced by setup2.mrv)
extern char gmacros;          // 7
extern std::int32_t graphsize;   // 8: low 16 bits stored
extern std::int32_t spacevlins;  // 10: low 16 bits stored
extern std::int32_t roomforvol;  // 12: low 16 bits stored
extern char shortlines;       // 14
// color[8] (offset 15), gmode (0), datadisk (24), datasubdir (26): environment.h
extern char acolor;           // 23
extern char soundon;          // 25
extern char howmanyLFs[4];    // 50: up to 3 characters and a NUL
extern std::int32_t redraw;   // 54
extern unsigned char osc_pred[4];  // 58: value byte, then 3 bytes carried through

// setup2.mrv: holiday letter, printer name, howmanyLFs, justcloses.
extern char holidayletter;
extern char prnname[13];

// Hand-off file name, "exe.mrv".
extern const char* const exemrv;

// Encodes the setup globals into the 62-byte record / decodes a record into
// them (all 20 fields, raw bytes, little-endian integers; the data
// directory is NUL-terminated after its 24 bytes).
void encode_setup_record(std::span<unsigned char, kSetupRecordSize> out);
void decode_setup_record(std::span<const unsigned char, kSetupRecordSize> in);
// Decodes the 19-byte second setup record.
void decode_setup2_record(std::span<const unsigned char, kSetup2RecordSize> in);
// The built-in values of every setup global (modes 'P', colour 7, ...).
void set_builtin_setup();

// ---- Operations ---------------------------------------------------------
// The start-up sequence: hand-off file (when `handoff`), start directory,
// setup files, geometry, directory checks, data directory.  Messages of the
// directory checks go to standard output.  Leaves the process in the data
// directory (or where the attempts left it).  Returns 1 when "setup2.mrv"
// was read, else 0.
int get_setup(int handoff);

// Writes "setup.mrv" into `dir` (the file is replaced as a whole).  With
// ask == 'y' it first asks "Store these settings permanently? (y/n)->" and
// stops unless the answer is 'y', then shows "STORING" on row 0.
// Afterwards changes into the data directory.  Returns 1 when written.
int storesets(char ask, char drive, const char* dir);

// Writes `text` into the file `path` with no line end (replaced as a
// whole).  On failure shows "Can't write: <path> to disk:" and waits for a
// key.  `drive` is not used.  Returns 1 when written.
int save_exe_mrv(const char* path, const char* text, char drive);

// Makes sure directory `dir` (a buffer of at least 25 bytes) exists: when it
// does not, prints "\n>dir<-Didn't exist." and, when the home directory is
// known and `dir` has a '/' (or '\'), rewrites `dir` to the home directory,
// "/" and the last component (cut to 24 characters), creates it and prints
// " So, we made this subdir:>dir<\n".  Returns 1 when the directory exists or
// was rewritten, 0 otherwise.
int if_not_exist_makeinhomedir(char* dir);

// Derives the pixel geometry of the pop-ups from the screen's cell sizes.
// Returns 3.
int presetfuncs(int left, int top);
