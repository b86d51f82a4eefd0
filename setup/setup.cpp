// Start-up environment: the start and data directories, the setup files
// shared with the charting program and the hand-off file left by a launcher.
#include "setup/setup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "chartdata/osshims.h"
#include "chartdata/safe_replace.h"
#include "screen/screen.h"
#include "widgets/prompt.h"

char openintereston, priceopenon, volum, semilog, sew, justcloses, gmacros;
std::int32_t graphsize, spacevlins, roomforvol;
char shortlines, acolor, soundon;
char howmanyLFs[4];
std::int32_t redraw;
unsigned char osc_pred[4];
char holidayletter = ' ';
char prnname[13];
const char* const exemrv = "exe.mrv";

namespace {

// Bytes that followed the 62-byte record in the file last read; written back
// after it so that a longer record of a newer charting program survives.
std::vector<unsigned char> setup_tail;
constexpr std::size_t kMaxSetupTail = 4096;

void put16(unsigned char* p, std::int32_t v) {
  p[0] = static_cast<unsigned char>(v & 0xFF);
  p[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
}
void put32(unsigned char* p, std::int32_t v) {
  auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>((u >> (8 * i)) & 0xFF);
}
// Raw 16 bits into the low half of a 32-bit global, upper half kept.
void get16(const unsigned char* p, std::int32_t& v) {
  auto u = static_cast<std::uint32_t>(v);
  u = (u & 0xFFFF0000u) | p[0] | (static_cast<std::uint32_t>(p[1]) << 8);
  v = static_cast<std::int32_t>(u);
}
std::int32_t get32(const unsigned char* p) {
  std::uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= static_cast<std::uint32_t>(p[i]) << (8 * i);
  return static_cast<std::int32_t>(u);
}

// Reads up to `max` bytes of a whole file; -1 when it cannot be opened.
long read_file(const char* path, std::vector<unsigned char>& out, std::size_t max) {
  int fd = ::open(path, O_RDONLY);
  if (fd < 0) return -1;
  out.clear();
  unsigned char buf[4096];
  while (out.size() < max) {
    std::size_t want = std::min(sizeof buf, max - out.size());
    ssize_t n = ::read(fd, buf, want);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  ::close(fd);
  return static_cast<long>(out.size());
}

}  // namespace

void set_builtin_setup() {
  gmode = 'P';
  tmode = 'P';
  openintereston = 1;
  priceopenon = 1;
  volum = 'y';
  semilog = 0;
  sew = 0;
  justcloses = '1';
  gmacros = 0;
  graphsize = 110;
  spacevlins = 5;
  roomforvol = 1;
  shortlines = 'l';
  static const unsigned char builtin_colors[8] = {7, 3, 14, 10, 12, 14, 10, 9};
  std::memcpy(color, builtin_colors, sizeof color);
  acolor = 7;
  datadisk = 0;
  soundon = 0;
  std::memset(datasubdir, 0, sizeof datasubdir);
  std::memcpy(howmanyLFs, " 18", 4);
  redraw = 1;
  // Only the first byte of this field means something here; a file written
  // without having been read carries zeros in the other three.
  osc_pred[0] = 1;
  osc_pred[1] = osc_pred[2] = osc_pred[3] = 0;
  holidayletter = ' ';
  std::memset(prnname, 0, sizeof prnname);
  std::memcpy(prnname, "LPT1        ", 12);
  setup_tail.clear();
}

void encode_setup_record(std::span<unsigned char, kSetupRecordSize> out) {
  unsigned char* p = out.data();
  p[0] = static_cast<unsigned char>(gmode);
  p[1] = static_cast<unsigned char>(openintereston);
  p[2] = static_cast<unsigned char>(priceopenon);
  p[3] = static_cast<unsigned char>(volum);
  p[4] = static_cast<unsigned char>(semilog);
  p[5] = static_cast<unsigned char>(sew);
  p[6] = static_cast<unsigned char>(justcloses);
  p[7] = static_cast<unsigned char>(gmacros);
  put16(p + 8, graphsize);
  put16(p + 10, spacevlins);
  put16(p + 12, roomforvol);
  p[14] = static_cast<unsigned char>(shortlines);
  std::memcpy(p + 15, color, 8);
  p[23] = static_cast<unsigned char>(acolor);
  p[24] = static_cast<unsigned char>(datadisk);
  p[25] = static_cast<unsigned char>(soundon);
  std::memcpy(p + 26, datasubdir, 24);
  std::memcpy(p + 50, howmanyLFs, 4);
  put32(p + 54, redraw);
  std::memcpy(p + 58, osc_pred, 4);
}

void decode_setup_record(std::span<const unsigned char, kSetupRecordSize> in) {
  const unsigned char* p = in.data();
  gmode = static_cast<char>(p[0]);
  openintereston = static_cast<char>(p[1]);
  priceopenon = static_cast<char>(p[2]);
  volum = static_cast<char>(p[3]);
  semilog = static_cast<char>(p[4]);
  sew = static_cast<char>(p[5]);
  justcloses = static_cast<char>(p[6]);
  gmacros = static_cast<char>(p[7]);
  get16(p + 8, graphsize);
  get16(p + 10, spacevlins);
  get16(p + 12, roomforvol);
  shortlines = static_cast<char>(p[14]);
  std::memcpy(color, p + 15, 8);
  acolor = static_cast<char>(p[23]);
  datadisk = static_cast<char>(p[24]);
  soundon = static_cast<char>(p[25]);
  std::memcpy(datasubdir, p + 26, 24);
  datasubdir[24] = 0;
  std::memcpy(howmanyLFs, p + 50, 4);
  redraw = get32(p + 54);
  std::memcpy(osc_pred, p + 58, 4);
}

void decode_setup2_record(std::span<const unsigned char, kSetup2RecordSize> in) {
  const unsigned char* p = in.data();
  holidayletter = static_cast<char>(p[0]);
  std::memcpy(prnname, p + 1, 13);
  std::memcpy(howmanyLFs, p + 14, 4);
  justcloses = static_cast<char>(p[18]);
}

int presetfuncs(int left, int top) {
  tmode = 'P';
  HPX = scrwidth;
  VPXC = static_cast<unsigned>(pixelsperrow);
  HPXC = static_cast<unsigned>(pixelspercol);
  VPX = maxrow * pixelsperrow;
  const int vpxc = static_cast<int>(VPXC);
  const int hpxc = static_cast<int>(HPXC);
  BTOP = top + vpxc + vpxc / 16 + 1;
  BBOT = VPX + top - vpxc - vpxc / 2;
  BLF = left + 8 * hpxc - 4;
  BRT = left + HPX - 1;
  WIDTHOSC = (21 * vpxc) / 4;
  roomforvol = 1;
  return 3;
}

int if_not_exist_makeinhomedir(char* dir) {
  if (dir[0] && exist(dir)) return 1;
  std::printf("\n>%s<-Didn't exist.", dir);
  const char* home = gethomedir();
  const char* sep = std::strrchr(dir, '/');
  if (!sep) sep = std::strrchr(dir, '\\');
  if (home && sep) {
    std::string made = std::string(home) + "/" + (sep + 1);
    std::snprintf(dir, 25, "%.24s", made.c_str());
    sys_mkdir(dir);
    std::printf(" So, we made this subdir:>%s<\n", dir);
    std::fflush(stdout);
    return 1;
  }
  std::fflush(stdout);
  return 0;
}

int storesets(char ask, char /*drive*/, const char* dir) {
  if (ask == 'y') {
    if (msg("Store these settings permanently? (y/n)->", "", 1) != 'y') return 0;
    putsn("STORING", 0, 0, 7);
    scr_clrl();
  }
  // A directory that cannot be entered leaves the file in the current one.
  if (dir[0]) (void)::chdir(dir);
  std::vector<unsigned char> bytes(kSetupRecordSize);
  encode_setup_record(std::span<unsigned char, kSetupRecordSize>(bytes.data(), kSetupRecordSize));
  bytes.insert(bytes.end(), setup_tail.begin(), setup_tail.end());
  int ok = replace_file(kSetupFileName, bytes, SafeReplace::Locking::kNone);
  if (!ok) {
    // Nothing was written: an old setup file is still whole.  Said where
    // the start-up messages go.
    std::printf("\nCan't write: %s%s%s to disk:\n", dir, dir[0] ? "/" : "", kSetupFileName);
    std::fflush(stdout);
  }
  if (datasubdir[0]) (void)::chdir(datasubdir);
  return ok ? 1 : 0;
}

int save_exe_mrv(const char* path, const char* text, char /*drive*/) {
  if (replace_file(path, std::span<const unsigned char>(
                       reinterpret_cast<const unsigned char*>(text), std::strlen(text)),
                   SafeReplace::Locking::kNone))
    return 1;
  char line[160];
  std::snprintf(line, sizeof line, "Can't write: %s to disk:", path);
  msg(line, "", 1);
  return 0;
}

int get_setup(int handoff) {
  mousereset();
  startdisk = 0;

  // 2. The launcher's hand-off file names the start directory.
  if (handoff) {
    int fd = ::open(exemrv, O_RDONLY);
    if (fd > 0) {
      char buf[129];
      ssize_t n = ::read(fd, buf, 128);
      if (n < 0) n = 0;
      buf[n] = 0;
      ::close(fd);
      ::unlink(exemrv);
      // A line end added by an editor is not part of the directory name.
      std::size_t len = std::strlen(buf);
      while (len > 0 && (buf[len - 1] == '\n' || buf[len - 1] == '\r')) buf[--len] = 0;
      startdisk = buf[0];
      std::snprintf(startsubdir, sizeof startsubdir, "%s", buf);
      if (startsubdir[0]) (void)::chdir(startsubdir);
    }
  }

  // 3. Otherwise: beside an executable "xmorva", or ~/morva.
  if (!handoff || startdisk == 0) {
    startdisk = 'A';
    char cwd[4096];
    const char* home = nullptr;
    if (::access("xmorva", X_OK) == 0 && ::getcwd(cwd, sizeof cwd)) {
      std::snprintf(startsubdir, sizeof startsubdir, "/%.23s", cwd[0] == '/' ? cwd + 1 : cwd);
    } else if ((home = gethomedir()) != nullptr) {
      // One start directory in the home, the same one the batch tool uses.
      std::snprintf(startsubdir, sizeof startsubdir, "%s", home_start_dir().c_str());
    } else {
      startsubdir[0] = 0;
    }
  }

  // 4. Built-in values.
  set_builtin_setup();

  // 5. The setup file, then the optional second one.
  int read2 = 0;
  // No start directory: the file of the current directory, where it is written.
  std::string path = startsubdir[0] ? std::string(startsubdir) + "/" + kSetupFileName : kSetupFileName;
  std::vector<unsigned char> bytes;
  if (read_file(path.c_str(), bytes, kSetupRecordSize + kMaxSetupTail) >= 0) {
    // A short file overwrites only the bytes it holds.
    unsigned char rec[kSetupRecordSize];
    encode_setup_record(rec);
    std::size_t n = std::min<std::size_t>(bytes.size(), kSetupRecordSize);
    if (n > 0) std::memcpy(rec, bytes.data(), n);  // an empty file has no data pointer
    decode_setup_record(rec);
    if (bytes.size() > kSetupRecordSize)
      setup_tail.assign(bytes.begin() + kSetupRecordSize, bytes.end());
    if (gmode == 8) std::memcpy(howmanyLFs, "8", 2);
    std::vector<unsigned char> b2;
    if (read_file(kSetup2FileName, b2, kSetup2RecordSize) >= 0) {
      unsigned char r2[kSetup2RecordSize];
      r2[0] = static_cast<unsigned char>(holidayletter);
      std::memcpy(r2 + 1, prnname, 13);
      std::memcpy(r2 + 14, howmanyLFs, 4);
      r2[18] = static_cast<unsigned char>(justcloses);
      if (!b2.empty()) std::memcpy(r2, b2.data(), b2.size());  // an empty file has no data pointer
      decode_setup2_record(r2);
      read2 = 1;
    }
  }

  // 6-8.
  std::snprintf(holidayFnam, sizeof holidayFnam, "%s/holiday%c", startsubdir, holidayletter);
  presetfuncs(0, 0);
  if (datadisk != 0)
    setdrive(datadisk);
  else
    datadisk = startdisk;

  // 9-11. Directories; the setup file is written back (or created).
  if (startsubdir[0]) if_not_exist_makeinhomedir(startsubdir);
  storesets('n', startdisk, startsubdir);
  // No data directory set (the usual case): the program works in the
  // start directory, and nothing is said about a folder with no name.
  if (datasubdir[0]) {
    sys_mkdir(datasubdir);
    if_not_exist_makeinhomedir(datasubdir);
  }
  if (datasubdir[0]) (void)::chdir(datasubdir);

  // 12.
  origdatadisk = datadisk;
  std::memcpy(origdatasubdir, datasubdir, sizeof origdatasubdir);
  return read2;
}
