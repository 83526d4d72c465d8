#include "database/image_loader_jpg.h"

#include <sys/stat.h>

#include <new>
#include <vector>

#include "database/jpeg_codec_internal.h"
#include "manager/log.h"
#include "platform/file_system.h"

namespace {

using vornik::jpeg_internal::JumpingErrorManager;

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

// Past the end of the buffer the stream ends with an end-of-image marker, so
// a truncated image finishes instead of reading beyond the data.
boolean fillInputBuffer(j_decompress_ptr cinfo) {
  cinfo->src->next_input_byte = kEndOfImage;
  cinfo->src->bytes_in_buffer = sizeof kEndOfImage;
  return TRUE;
}

void skipInputData(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* source = cinfo->src;
  size_t step = static_cast<size_t>(count);
  if (step > source->bytes_in_buffer) step = source->bytes_in_buffer;
  source->next_input_byte += step;
  source->bytes_in_buffer -= step;
}

// Everything the jumping decoder touches lives here, in the caller's frame,
// and is reached through a pointer, so it is intact after the jump. The frames
// that the jump leaves hold no objects with destructors.
struct DecodeJob {
  const uint8_t* data = nullptr;
  size_t size = 0;
  jpeg_decompress_struct cinfo;
  JumpingErrorManager error;
  jpeg_source_mgr source;
  bool created = false;
  JSAMPROW* rows = nullptr;
  uint8_t* decoded = nullptr;  // as libjpeg delivers it
  uint8_t* pixels = nullptr;   // final buffer handed to the caller
  int32_t width = 0;
  int32_t height = 0;
  int32_t grey = 0;
};

void releaseJob(DecodeJob* job) {
  if (job->created) jpeg_destroy_decompress(&job->cinfo);
  job->created = false;
  delete[] job->rows;
  job->rows = nullptr;
  if (job->pixels != job->decoded) delete[] job->pixels;
  delete[] job->decoded;
  job->pixels = nullptr;
  job->decoded = nullptr;
}

bool runDecode(DecodeJob* job) {
  if (setjmp(job->error.recovery) != 0) {
    releaseJob(job);
    return false;
  }
  jpeg_decompress_struct* cinfo = &job->cinfo;
  cinfo->err = vornik::jpeg_internal::installJumpingErrorManager(job->error);
  jpeg_create_decompress(cinfo);
  job->created = true;

  job->source.next_input_byte = job->data;
  job->source.bytes_in_buffer = job->size;
  job->source.init_source = initSource;
  job->source.fill_input_buffer = fillInputBuffer;
  job->source.skip_input_data = skipInputData;
  job->source.resync_to_restart = jpeg_resync_to_restart;
  job->source.term_source = termSource;
  cinfo->src = &job->source;

  jpeg_read_header(cinfo, TRUE);
  int components;
  bool cmyk = false;
  if (cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK) {
    cinfo->out_color_space = JCS_CMYK;
    components = 4;
    cmyk = true;
  } else if (cinfo->jpeg_color_space == JCS_GRAYSCALE) {
    cinfo->out_color_space = JCS_GRAYSCALE;
    components = 1;
    job->grey = 1;
  } else {
    cinfo->out_color_space = JCS_RGB;
    components = 3;
  }
  cinfo->do_fancy_upsampling = FALSE;

  size_t width = cinfo->image_width;
  size_t height = cinfo->image_height;
  size_t rowBytes = width * static_cast<size_t>(components);
  // Refused before libjpeg allocates anything image-sized.
  if (width == 0 || height == 0) {
    releaseJob(job);
    return false;
  }
  if (rowBytes > ImageLoaderJPG::kMaxRowBytes ||
      rowBytes * height > ImageLoaderJPG::kMaxImageBytes) {
    vornik::logMessage("JPEG image of %zu x %zu pixels is too large to decode\n", width, height);
    releaseJob(job);
    return false;
  }
  // Past this budget libjpeg fails (it has no backing store) instead of growing.
  cinfo->mem->max_memory_to_use = ImageLoaderJPG::kMaxDecoderMemory;

  jpeg_start_decompress(cinfo);
  width = cinfo->output_width;
  height = cinfo->output_height;
  rowBytes = width * static_cast<size_t>(cinfo->output_components);
  if (static_cast<int>(cinfo->output_components) != components ||
      rowBytes > ImageLoaderJPG::kMaxRowBytes ||
      rowBytes * height > ImageLoaderJPG::kMaxImageBytes) {
    releaseJob(job);
    return false;
  }
  job->width = static_cast<int32_t>(width);
  job->height = static_cast<int32_t>(height);
  job->decoded = new (std::nothrow) uint8_t[rowBytes * height];
  job->rows = new (std::nothrow) JSAMPROW[height];
  if (job->decoded == nullptr || job->rows == nullptr) {
    releaseJob(job);
    return false;
  }
  for (size_t y = 0; y < height; ++y) job->rows[y] = job->decoded + y * rowBytes;
  while (cinfo->output_scanline < cinfo->output_height) {
    jpeg_read_scanlines(cinfo, job->rows + cinfo->output_scanline,
                        cinfo->output_height - cinfo->output_scanline);
  }
  delete[] job->rows;
  job->rows = nullptr;
  jpeg_finish_decompress(cinfo);
  jpeg_destroy_decompress(cinfo);
  job->created = false;

  const size_t pixelCount = width * height;
  if (cmyk) {
    job->pixels = new (std::nothrow) uint8_t[pixelCount * 3];
    if (job->pixels == nullptr) {
      releaseJob(job);
      return false;
    }
    const uint8_t* in = job->decoded;
    uint8_t* out = job->pixels;
    for (size_t i = 0; i < pixelCount; ++i, in += 4, out += 3) {
      const float k = in[3] / 255.0f;
      out[0] = static_cast<uint8_t>(k * in[2]);
      out[1] = static_cast<uint8_t>(k * in[1]);
      out[2] = static_cast<uint8_t>(k * in[0]);
    }
    delete[] job->decoded;
    job->decoded = nullptr;
  } else {
    if (components == 3) {
      uint8_t* p = job->decoded;
      for (size_t i = 0; i < pixelCount; ++i, p += 3) {
        uint8_t red = p[0];
        p[0] = p[2];
        p[2] = red;
      }
    }
    job->pixels = job->decoded;
    job->decoded = nullptr;
  }
  return true;
}

// Size of the regular file `path`; false, with a log line for anything but a
// missing file, when it is not one or is above the input limit. Checked before
// opening, so that a pipe cannot block the open.
bool regularFileSize(const std::string& path, size_t& size) {
  uint64_t bytes = 0;
  const vornik::FileKind kind = vornik::fileKind(path, &bytes);
  if (kind == vornik::FileKind::kMissing) return false;
  const bool regular = kind == vornik::FileKind::kRegular;
  if (!regular) {
    vornik::logMessage("%s is not a regular file\n", path.c_str());
    return false;
  }
  if (bytes > ImageLoaderJPG::kMaxInputBytes) {
    vornik::logMessage("%s is larger than %zu bytes\n", path.c_str(),
                       ImageLoaderJPG::kMaxInputBytes);
    return false;
  }
  size = static_cast<size_t>(bytes);
  return true;
}

// Bytes from the current position of `file` to its end; false when they
// cannot be measured or the file has a descriptor that is not a regular file.
bool remainingBytes(std::FILE* file, uint64_t& remaining) {
  const long position = std::ftell(file);
  if (position < 0) return false;
  uint64_t size = 0;
#ifdef _WIN32
  const int descriptor = _fileno(file);
#else
  const int descriptor = fileno(file);
#endif
  if (descriptor >= 0) {
#ifdef _WIN32
    struct _stat64 info;
    if (_fstat64(descriptor, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return false;
#else
    struct stat info;
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) return false;
#endif
    size = static_cast<uint64_t>(info.st_size);
  } else {
    // A stream without a descriptor (memory): measured by seeking.
    if (std::fseek(file, 0, SEEK_END) != 0) return false;
    const long end = std::ftell(file);
    if (std::fseek(file, position, SEEK_SET) != 0 || end < 0) return false;
    size = static_cast<uint64_t>(end);
  }
  remaining = size > static_cast<uint64_t>(position) ? size - static_cast<uint64_t>(position) : 0;
  return true;
}

// Reads up to `count` bytes from the current position into `bytes`; false
// when the buffer cannot be had.
bool readBytes(std::FILE* file, size_t count, std::vector<uint8_t>& bytes) {
  try {
    bytes.resize(count);
  } catch (const std::bad_alloc&) {
    vornik::logMessage("Not enough memory for %zu bytes of JPEG data\n", count);
    return false;
  }
  bytes.resize(count == 0 ? 0 : std::fread(bytes.data(), 1, count, file));
  return true;
}

}  // namespace

bool ImageLoaderJPG::canLoad(const std::string& path) const {
  size_t dot = path.rfind('.');
  const std::string extension = dot == std::string::npos ? path : path.substr(dot + 1);
  return extension == "jpg" || extension == "jpeg";
}

bool ImageLoaderJPG::decodeMemory(const uint8_t* data, size_t size, int32_t& width, int32_t& height,
                                  int32_t& grey, uint8_t*& pixels) {
  DecodeJob job;
  job.data = data;
  job.size = size;
  if (!runDecode(&job)) return false;
  width = job.width;
  height = job.height;
  grey = job.grey;
  pixels = job.pixels;
  return true;
}

bool ImageLoaderJPG::decodeRegion(std::FILE* file, uint32_t byteCount, int32_t& width,
                                  int32_t& height, int32_t& grey, uint8_t*& pixels) {
  if (file == nullptr) return false;
  // Never allocate more than the file still holds.
  uint64_t remaining = 0;
  if (!remainingBytes(file, remaining)) return false;
  const uint64_t wanted = byteCount < remaining ? byteCount : remaining;
  if (wanted > kMaxInputBytes) {
    vornik::logMessage("JPEG data of %llu bytes is larger than %zu bytes\n",
                       static_cast<unsigned long long>(wanted), kMaxInputBytes);
    return false;
  }
  std::vector<uint8_t> bytes;
  if (!readBytes(file, static_cast<size_t>(wanted), bytes)) return false;
  return decodeMemory(bytes.data(), bytes.size(), width, height, grey, pixels);
}

bool ImageLoaderJPG::load(std::string path, int32_t& width, int32_t& height, int32_t& grey,
                          uint8_t*& pixels) const {
  size_t length = 0;
  if (!regularFileSize(path, length)) return false;
  std::FILE* file = vornik::openFile(path, "rb");
  if (file == nullptr) return false;
  std::vector<uint8_t> bytes;
  const bool read = readBytes(file, length, bytes);
  std::fclose(file);
  return read && decodeMemory(bytes.data(), bytes.size(), width, height, grey, pixels);
}
