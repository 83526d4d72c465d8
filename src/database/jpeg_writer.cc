#include "database/jpeg_writer.h"

#include <cstdlib>
#include <cstring>

#include "database/jpeg_codec_internal.h"

namespace vornik {
namespace {

using jpeg_internal::JumpingErrorManager;

constexpr size_t kInitialOutput = size_t{1} << 16;

// State of one compression, reached through a pointer so it survives the
// error jump; buffers are plain C allocations.
struct EncodeJob {
  const uint8_t* pixels = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t channels = 0;
  int32_t quality = 0;
  jpeg_compress_struct cinfo;
  JumpingErrorManager error;
  jpeg_destination_mgr destination;
  bool created = false;
  JOCTET* output = nullptr;
  size_t capacity = 0;
  size_t used = 0;  // bytes of `output` handed back by libjpeg
  uint8_t* row = nullptr;
};

EncodeJob* jobOf(j_compress_ptr cinfo) { return static_cast<EncodeJob*>(cinfo->client_data); }

void initDestination(j_compress_ptr cinfo) {
  EncodeJob* job = jobOf(cinfo);
  cinfo->dest->next_output_byte = job->output;
  cinfo->dest->free_in_buffer = job->capacity;
}

// The whole buffer is full: double it and carry on after the old end.
boolean emptyOutputBuffer(j_compress_ptr cinfo) {
  EncodeJob* job = jobOf(cinfo);
  size_t grown = job->capacity * 2;
  JOCTET* output = static_cast<JOCTET*>(std::realloc(job->output, grown));
  if (output == nullptr) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
  job->output = output;
  cinfo->dest->next_output_byte = output + job->capacity;
  cinfo->dest->free_in_buffer = grown - job->capacity;
  job->capacity = grown;
  return TRUE;
}

void termDestination(j_compress_ptr cinfo) {
  EncodeJob* job = jobOf(cinfo);
  job->used = job->capacity - cinfo->dest->free_in_buffer;
}

void releaseJob(EncodeJob* job) {
  if (job->created) jpeg_destroy_compress(&job->cinfo);
  job->created = false;
  std::free(job->row);
  job->row = nullptr;
}

bool runEncode(EncodeJob* job) {
  if (setjmp(job->error.recovery) != 0) {
    releaseJob(job);
    return false;
  }
  jpeg_compress_struct* cinfo = &job->cinfo;
  cinfo->err = jpeg_internal::installJumpingErrorManager(job->error);
  jpeg_create_compress(cinfo);
  job->created = true;
  cinfo->client_data = job;

  job->capacity = kInitialOutput;
  job->output = static_cast<JOCTET*>(std::malloc(job->capacity));
  const size_t rowBytes = static_cast<size_t>(job->width) * static_cast<size_t>(job->channels);
  job->row = static_cast<uint8_t*>(std::malloc(rowBytes));
  if (job->output == nullptr || job->row == nullptr) {
    releaseJob(job);
    return false;
  }
  job->destination.init_destination = initDestination;
  job->destination.empty_output_buffer = emptyOutputBuffer;
  job->destination.term_destination = termDestination;
  cinfo->dest = &job->destination;

  cinfo->image_width = static_cast<JDIMENSION>(job->width);
  cinfo->image_height = static_cast<JDIMENSION>(job->height);
  cinfo->input_components = job->channels;
  cinfo->in_color_space = job->channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, job->quality, TRUE);
  jpeg_start_compress(cinfo, TRUE);
  while (cinfo->next_scanline < cinfo->image_height) {
    const uint8_t* source = job->pixels + static_cast<size_t>(cinfo->next_scanline) * rowBytes;
    if (job->channels == 3) {
      for (size_t i = 0; i < rowBytes; i += 3) {
        job->row[i] = source[i + 2];
        job->row[i + 1] = source[i + 1];
        job->row[i + 2] = source[i];
      }
    } else {
      std::memcpy(job->row, source, rowBytes);
    }
    JSAMPROW rows[1] = {job->row};
    jpeg_write_scanlines(cinfo, rows, 1);
  }
  jpeg_finish_compress(cinfo);
  releaseJob(job);
  return true;
}

}  // namespace

bool encodeJpeg(const uint8_t* pixels, int32_t width, int32_t height, int32_t channels,
                int32_t quality, std::vector<uint8_t>& out) {
  out.clear();
  if (pixels == nullptr || width <= 0 || height <= 0 || (channels != 1 && channels != 3) ||
      quality < 1 || quality > 100 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION) {
    return false;
  }
  EncodeJob job;
  job.pixels = pixels;
  job.width = width;
  job.height = height;
  job.channels = channels;
  job.quality = quality;
  bool ok = runEncode(&job);
  if (ok) out.assign(job.output, job.output + job.used);
  std::free(job.output);
  return ok;
}

}  // namespace vornik
