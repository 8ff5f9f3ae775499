#pragma once

#include <QString>
#include <optional>

namespace lumet {

// Where the window works: the folder whose param.txt it reads and rewrites and against
// which the relative names in the parameters are resolved.

// What opening one frame file means: the working folder, the LR pattern relative to it
// and the frame number of the file (the reference frame).
struct FrameFileChoice {
  QString folder;     // absolute; the file's folder, or its parent when that is named "images"
  QString lrPattern;  // "./images/lr-%d.bmp": the last run of digits of the name as %d
  int startIndex = 0;
};

// Reads a frame file's name. The last run of digits in the file name becomes %d, or %0Nd
// when it has a leading zero and N digits; '%' elsewhere in the path is doubled. Empty
// when the name holds no digits (or too many for a frame number).
std::optional<FrameFileChoice> ParseFrameFile(const QString& path);

// Names the frame source reads as videos rather than frames.
bool IsVideoName(const QString& path);

// True when folder holds a param.txt or frames of the default layout (images/ with picture
// files, or picture files of its own).
bool LooksLikeWorkingFolder(const QString& folder);

// How the working folder is chosen when the window starts.
enum class StartSource {
  Argument,       // `lumet DIR` or `lumet FRAME-OR-VIDEO`
  CurrentFolder,  // started inside a working folder that is not the home folder
  LastFolder,     // the folder used last time
  Ask,            // nothing fits: the user chooses
};

struct StartChoice {
  StartSource source = StartSource::Ask;
  QString path;  // the argument or folder; empty for Ask
};

// The argument wins; then the current folder, unless it is the home folder or holds
// nothing to work on; then the last folder used if it still exists; otherwise ask.
StartChoice ChooseStartFolder(const QString& argument, const QString& currentFolder, const QString& homeFolder,
                              const QString& lastFolder);

// A frame pattern relative to folder as one that names the same files from anywhere:
// "./images/lr-%d.bmp" in /data/run becomes "/data/run/images/lr-%d.bmp" ('%' in the
// folder doubled). An absolute pattern is returned as it is.
QString PatternFrom(const QString& folder, const QString& pattern);

// Where the results of a folder that cannot be written to are offered a place of their
// own: home/Lumet/NAME, NAME being the folder's name, with -2, -3 ... added when that
// already serves another folder (its param.txt names frames elsewhere).
QString ProposedResultsFolder(const QString& readOnlyFolder, const QString& home);

}  // namespace lumet
