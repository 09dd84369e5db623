// Drive identity on Linux: the drive's own IDENTIFY DEVICE data through SG_IO (ATA
// PASS-THROUGH), else the kernel's copy through HDIO_GET_IDENTITY, else the sysfs model.

#include "disk/drive_identity.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>

#include <fcntl.h>
#include <linux/hdreg.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr unsigned kIdentifyTimeoutMs = 2000;
constexpr std::uint8_t kSenseNoSense = 0;
constexpr std::uint8_t kSenseRecoveredError = 1;

/// A descriptor opened read-only, closed on every path out.
class ReadOnlyDevice {
 public:
  explicit ReadOnlyDevice(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}
  ~ReadOnlyDevice() {
    if (fd_ >= 0) ::close(fd_);
  }
  ReadOnlyDevice(const ReadOnlyDevice&) = delete;
  ReadOnlyDevice& operator=(const ReadOnlyDevice&) = delete;

  /// True for an opened block device; identify requests go to nothing else.
  [[nodiscard]] bool IsBlockDevice() const {
    struct stat st {};
    return fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISBLK(st.st_mode);
  }
  [[nodiscard]] int fd() const { return fd_; }

 private:
  int fd_;
};

/// The integrity word (255) holds A5h and a checksum that makes all 512 bytes sum to 0.
bool LooksLikeIdentifyData(const IdentifyRaw& raw) {
  if (std::all_of(raw.begin(), raw.end(), [](std::uint8_t b) { return b == 0; })) return false;
  if (raw[510] != 0xA5) return true;
  return static_cast<std::uint8_t>(std::accumulate(raw.begin(), raw.end(), 0u)) == 0;
}

/// Good status, or sense data that only says the pass-through has status to report.
bool CommandSucceeded(const sg_io_hdr_t& io, const std::uint8_t* sense) {
  if (io.host_status != 0) return false;
  if (io.status == 0 && (io.driver_status & 0x0F) == 0) return true;
  if (io.sb_len_wr < 3) return false;
  const std::uint8_t format = sense[0] & 0x7F;
  const std::uint8_t key = (format >= 0x72 ? sense[1] : sense[2]) & 0x0F;
  return key == kSenseNoSense || key == kSenseRecoveredError;
}

bool IdentifyThroughSgIo(int fd, IdentifyRaw& raw) {
  std::array<std::uint8_t, 16> cdb = AtaIdentifyCdb();
  std::array<std::uint8_t, 64> sense{};
  IdentifyRaw data{};
  sg_io_hdr_t io{};
  io.interface_id = 'S';
  io.dxfer_direction = SG_DXFER_FROM_DEV;
  io.cmd_len = static_cast<unsigned char>(cdb.size());
  io.cmdp = cdb.data();
  io.dxfer_len = static_cast<unsigned>(data.size());
  io.dxferp = data.data();
  io.mx_sb_len = static_cast<unsigned char>(sense.size());
  io.sbp = sense.data();
  io.timeout = kIdentifyTimeoutMs;
  if (::ioctl(fd, SG_IO, &io) != 0 || io.resid != 0 || !CommandSucceeded(io, sense.data()))
    return false;
  if (!LooksLikeIdentifyData(data)) return false;
  raw = data;
  return true;
}

bool IdentifyThroughHdio(int fd, IdentifyRaw& raw) {
  IdentifyRaw data{};
  if (::ioctl(fd, HDIO_GET_IDENTITY, data.data()) != 0 || !LooksLikeIdentifyData(data))
    return false;
  TextsToDriveOrder(data);
  raw = data;
  return true;
}

bool IdentifyFromSysfs(const std::string& sysfs_root, const std::string& name, IdentifyRaw& raw) {
  std::ifstream in(std::filesystem::path(sysfs_root) / "block" / name / "device/model");
  std::string model((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!model.empty() && static_cast<unsigned char>(model.back()) <= ' ') model.pop_back();
  if (model.empty()) return false;
  raw.fill(0);
  PutAtaText(raw, kModelOffset, kModelLength, model);
  return true;
}

class LinuxIdentifySource final : public IdentifySource {
 public:
  explicit LinuxIdentifySource(std::string sysfs_root) : sysfs_root_(std::move(sysfs_root)) {}

  bool ReadIdentify(const DriveEntry& drive, IdentifyRaw& raw) const override {
    {
      const ReadOnlyDevice device(drive.path);
      if (device.IsBlockDevice() &&
          (IdentifyThroughSgIo(device.fd(), raw) || IdentifyThroughHdio(device.fd(), raw)))
        return true;
    }
    return IdentifyFromSysfs(sysfs_root_, drive.name, raw);
  }

 private:
  std::string sysfs_root_;
};

}  // namespace

std::unique_ptr<IdentifySource> PlatformIdentifySource(std::string sysfs_root) {
  return std::make_unique<LinuxIdentifySource>(std::move(sysfs_root));
}
