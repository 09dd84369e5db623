// faulty_fs: a FUSE file system serving one read-only file, disk.img, from a backing
// image, with faults a dying disk shows. The faults come from a control file read
// again before every request, one per line (sector numbers are 512-byte LBAs):
//
//   fail FIRST[-LAST] [ERRNO]   reads touching these sectors fail (default EIO)
//   delay MS                    every read waits MS milliseconds first
//   hang                        reads block until the line is gone
//   vanish [ERRNO]              every read fails (default EIO)
//   exit                        the daemon exits: the mount answers ENOTCONN
//   size BYTES                  the file now ends at BYTES
//
// ERRNO is a name (EIO, ENOTCONN, ENODEV, ENXIO, ENOMEDIUM) or a number. With --log each
// request is appended to a file as "OFFSET SIZE RESULT".
//
// Usage: faulty_fs --image PATH --control PATH [--log PATH] MOUNTPOINT [fuse options]

#define FUSE_USE_VERSION 31

#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#define MAX_FAULTS 1024

struct fault {
  uint64_t first, last;
  int error;
};

struct control {
  struct fault fails[MAX_FAULTS];
  int fail_count;
  unsigned delay_ms;
  int hang;
  int vanish;  // errno, 0 for none
  int exit_now;
  int64_t size;  // -1: the backing image's size
};

static const char* image_path;
static const char* control_path;
static const char* log_path;
static int image_fd = -1;
static pthread_mutex_t log_mutex = PTHREAD_MUTEX_INITIALIZER;

static int ParseErrno(const char* word, int fallback) {
  static const struct {
    const char* name;
    int value;
  } names[] = {{"EIO", EIO},     {"ENOTCONN", ENOTCONN},   {"ENODEV", ENODEV},
               {"ENXIO", ENXIO}, {"ENOMEDIUM", ENOMEDIUM}, {"EAGAIN", EAGAIN}};
  if (word == NULL || *word == '\0') return fallback;
  for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i)
    if (strcmp(word, names[i].name) == 0) return names[i].value;
  const int n = atoi(word);
  return n > 0 ? n : fallback;
}

static void ParseControl(struct control* c) {
  memset(c, 0, sizeof *c);
  c->size = -1;
  FILE* f = fopen(control_path, "r");
  if (f == NULL) return;
  char line[256];
  while (fgets(line, sizeof line, f) != NULL) {
    char word[32] = "", arg1[64] = "", arg2[32] = "";
    if (sscanf(line, "%31s %63s %31s", word, arg1, arg2) < 1 || word[0] == '#') continue;
    if (strcmp(word, "fail") == 0 && c->fail_count < MAX_FAULTS) {
      struct fault* x = &c->fails[c->fail_count];
      char* dash = strchr(arg1, '-');
      x->first = strtoull(arg1, NULL, 10);
      x->last = dash ? strtoull(dash + 1, NULL, 10) : x->first;
      x->error = ParseErrno(arg2, EIO);
      ++c->fail_count;
    } else if (strcmp(word, "delay") == 0) {
      c->delay_ms = (unsigned)strtoul(arg1, NULL, 10);
    } else if (strcmp(word, "hang") == 0) {
      c->hang = 1;
    } else if (strcmp(word, "vanish") == 0) {
      c->vanish = ParseErrno(arg1, EIO);
    } else if (strcmp(word, "exit") == 0) {
      c->exit_now = 1;
    } else if (strcmp(word, "size") == 0) {
      c->size = strtoll(arg1, NULL, 10);
    }
  }
  fclose(f);
}

static pthread_mutex_t control_mutex = PTHREAD_MUTEX_INITIALIZER;
static struct control cached;
static struct stat cached_stat;
static int cached_valid;

/// The control file, parsed again only when it changed (it is replaced by rename).
static void ReadControl(struct control* c) {
  struct stat st;
  memset(&st, 0, sizeof st);
  stat(control_path, &st);
  pthread_mutex_lock(&control_mutex);
  if (!cached_valid || st.st_ino != cached_stat.st_ino || st.st_size != cached_stat.st_size ||
      st.st_mtim.tv_sec != cached_stat.st_mtim.tv_sec ||
      st.st_mtim.tv_nsec != cached_stat.st_mtim.tv_nsec) {
    ParseControl(&cached);
    cached_stat = st;
    cached_valid = 1;
  }
  *c = cached;
  pthread_mutex_unlock(&control_mutex);
}

static int64_t FileSize(const struct control* c) {
  if (c->size >= 0) return c->size;
  struct stat st;
  return fstat(image_fd, &st) == 0 ? st.st_size : 0;
}

static void Log(off_t offset, size_t size, int result) {
  if (log_path == NULL) return;
  pthread_mutex_lock(&log_mutex);
  static FILE* f;
  if (f == NULL) f = fopen(log_path, "a");
  if (f != NULL) {
    fprintf(f, "%lld %zu %d\n", (long long)offset, size, result);
    fflush(f);
  }
  pthread_mutex_unlock(&log_mutex);
}

static void SleepMs(unsigned ms) {
  struct timespec t = {ms / 1000, (long)(ms % 1000) * 1000000L};
  nanosleep(&t, NULL);
}

static int FsGetattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
  (void)fi;
  memset(st, 0, sizeof *st);
  if (strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0555;
    st->st_nlink = 2;
    return 0;
  }
  if (strcmp(path, "/disk.img") != 0) return -ENOENT;
  struct control c;
  ReadControl(&c);
  if (c.exit_now) exit(0);
  st->st_mode = S_IFREG | 0444;
  st->st_nlink = 1;
  st->st_size = FileSize(&c);
  return 0;
}

static int FsReaddir(const char* path, void* buf, fuse_fill_dir_t fill, off_t offset,
                     struct fuse_file_info* fi, enum fuse_readdir_flags flags) {
  (void)offset, (void)fi, (void)flags;
  if (strcmp(path, "/") != 0) return -ENOENT;
  fill(buf, ".", NULL, 0, 0);
  fill(buf, "..", NULL, 0, 0);
  fill(buf, "disk.img", NULL, 0, 0);
  return 0;
}

static int FsOpen(const char* path, struct fuse_file_info* fi) {
  if (strcmp(path, "/disk.img") != 0) return -ENOENT;
  if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  fi->direct_io = 1;  // every read reaches us at its own offset and size
  return 0;
}

static int FsRead(const char* path, char* buf, size_t size, off_t offset,
                  struct fuse_file_info* fi) {
  (void)path, (void)fi;
  struct control c;
  ReadControl(&c);
  while (c.hang) {
    SleepMs(20);
    ReadControl(&c);
  }
  if (c.exit_now) exit(0);
  if (c.delay_ms) SleepMs(c.delay_ms);
  int result = 0;
  if (c.vanish) {
    result = -c.vanish;
  } else {
    const int64_t file_size = FileSize(&c);
    if (offset >= file_size) {
      size = 0;
    } else if ((int64_t)(offset + size) > file_size) {
      size = (size_t)(file_size - offset);
    }
    const uint64_t first = (uint64_t)offset / 512;
    const uint64_t last = size ? ((uint64_t)offset + size - 1) / 512 : first;
    for (int i = 0; i < c.fail_count && size; ++i)
      if (c.fails[i].first <= last && c.fails[i].last >= first) {
        result = -c.fails[i].error;
        break;
      }
    if (result == 0 && size) {
      const ssize_t n = pread(image_fd, buf, size, offset);
      result = n < 0 ? -errno : (int)n;
    }
  }
  Log(offset, size, result);
  return result;
}

static const struct fuse_operations kOperations = {
    .getattr = FsGetattr,
    .open = FsOpen,
    .read = FsRead,
    .readdir = FsReaddir,
};

int main(int argc, char* argv[]) {
  char* fuse_argv[64];
  int fuse_argc = 0;
  fuse_argv[fuse_argc++] = argv[0];
  for (int i = 1; i < argc && fuse_argc < 60; ++i) {
    if (strcmp(argv[i], "--image") == 0 && i + 1 < argc) {
      image_path = argv[++i];
    } else if (strcmp(argv[i], "--control") == 0 && i + 1 < argc) {
      control_path = argv[++i];
    } else if (strcmp(argv[i], "--log") == 0 && i + 1 < argc) {
      log_path = argv[++i];
    } else {
      fuse_argv[fuse_argc++] = argv[i];
    }
  }
  if (image_path == NULL || control_path == NULL) {
    fprintf(stderr, "usage: %s --image PATH --control PATH [--log PATH] MOUNTPOINT\n", argv[0]);
    return 2;
  }
  image_fd = open(image_path, O_RDONLY | O_CLOEXEC);
  if (image_fd < 0) {
    perror(image_path);
    return 1;
  }
  static char opt_flag[] = "-o", options[] = "ro,allow_other";
  fuse_argv[fuse_argc++] = opt_flag;
  fuse_argv[fuse_argc++] = options;
  fuse_argv[fuse_argc] = NULL;
  return fuse_main(fuse_argc, fuse_argv, &kOperations, NULL);
}
