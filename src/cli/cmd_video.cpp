// video: every frame of a clip super-resolved from a window of its neighbours.
#include <charconv>
#include <cstdio>
#include <memory>
#include <string>

#include "cli/cli_commands.h"
#include "cli/threads_option.h"
#include "cli/video_job.h"
#include "lumet/stages.h"
#include "util/error.h"

namespace lumet::cli {

namespace {

// "X,Y,W,H" in pixels of the input frames.
Rect ParseRect(const std::string& text) {
  int v[4] = {0, 0, 0, 0};
  const char* p = text.data();
  const char* end = text.data() + text.size();
  bool ok = true;
  for (int i = 0; i < 4 && ok; ++i) {
    const auto parsed = std::from_chars(p, end, v[i]);
    ok = parsed.ec == std::errc() && (i == 3 ? parsed.ptr == end : parsed.ptr < end && *parsed.ptr == ',');
    p = parsed.ptr + 1;
  }
  if (!ok) throw CLI::ValidationError("--roi", "must be X,Y,W,H in pixels, e.g. 40,30,80,60 (got \"" + text + "\")");
  return Rect{v[0], v[1], v[2], v[3]};
}

}  // namespace

void AddVideoCommand(CLI::App& app, CommandSlot& slot) {
  auto job = std::make_shared<VideoJob>();
  auto roi = std::make_shared<std::string>();
  auto scale = std::make_shared<double>(job->settings.scale);
  auto* command = app.add_subcommand(
      "video",
      "super-resolve every frame of a clip: output frame k is the ROI of input frame k reconstructed with frame k as "
      "the reference of frames k-R .. k+R");
  command->add_option("INPUT", job->input, "a frame pattern (./images/lr-%d.bmp) or a video file")
      ->required()
      ->type_name("INPUT");
  command->add_option("OUTPUT", job->output, "a frame pattern (./sr/sr-%d.png; .bmp, .png or .tif)")
      ->required()
      ->type_name("OUTPUT");
  command->add_option("--radius", job->radius, "R: frames k-R .. k+R (clipped to the clip) make output frame k")
      ->check(CLI::Range(1, 100))
      ->capture_default_str();
  command->add_option("--scale", *scale, "2, 3 or 4")->capture_default_str();
  command->add_option("--roi", *roi, "region X,Y,W,H of the input frames (default: the whole frame)")
      ->type_name("X,Y,W,H");
  command->add_option("--method", job->settings.method, "classic or enhanced")->capture_default_str();
  command->add_option("--psf-sigma", job->settings.psfSigma, "the camera's Gaussian blur in LR pixels")
      ->capture_default_str();
  command->add_option("--first", job->first, "first output frame (counted from 0)")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  command->add_option("--last", job->last, "last output frame (default: the clip's last)")
      ->check(CLI::NonNegativeNumber);
  command->add_option("--start-index", job->startIndex, "number of the input's frame 0 (its file number)")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  command->add_flag("-q,--quiet", job->quiet, "print nothing but errors and warnings");
  AddThreadsOption(*command);
  command->footer(
      "Output frames that exist already are kept, so a run that was stopped resumes where it stopped: each frame "
      "is written to a temporary file and renamed, so one that exists is complete. Delete an output frame to "
      "make it again.");
  command->callback([&slot, job, roi, scale] {
    job->settings.scale = *scale;
    job->wholeFrame = roi->empty();
    if (!roi->empty()) job->settings.roi = ParseRect(*roi);
    slot.run = [job] {
      RunVideoJob(*job, stdout);
      return kExitOk;
    };
  });
}

}  // namespace lumet::cli
