#ifndef VELMORA_AVICONTAINER_H
#define VELMORA_AVICONTAINER_H

#include "math/NonCopyable.h"

#include <memory>
#include <string>
#include <vector>

class Bitmap;

/// The film writer of camera flights: frames in, one film file out, encoded through FFmpeg's
/// libraries with one of the codecs of getCodecList().
///
/// The film is written under a temporary name beside the final one and renamed only once
/// close() has written it whole: a failed or abandoned film (an error, a cancelled export,
/// a container destroyed without close()) leaves nothing under the final name.
///
/// Frames are Bitmap objects holding blue, green, red in each pixel's three bytes, row 0 at
/// the top; every frame of one film has the size of the first. Codecs that store colour at
/// half resolution need even sizes: an odd last column or row is left out of those films.
class AviContainer : NonCopyable
{
  public:
    /// `name`: the film's file name; when its last path component has no extension, the
    /// codec's (".avi" or ".mp4") is added. `fps`: frames per second (values below 1 count
    /// as 1). `codec`: an index into getCodecList(); -1 (never chosen) or an index out of
    /// range means the first entry, "RAW format".
    AviContainer(const char *name, int fps, int codec);
    /// Removes the unfinished film unless close() succeeded.
    ~AviContainer();

    /// Encodes one frame; the first one fixes the film's size. False (with getError()) when
    /// the frame cannot be written; every later call then fails too.
    bool addFrame(const Bitmap &frame);
    /// Flushes the encoder, completes the file and gives it its final name. False with
    /// getError() when that fails or no frame was added; nothing is left under the name then.
    bool close();

    /// What went wrong, empty while nothing did.
    const std::string &getError() const { return error; }
    /// The file name the film gets (the codec's extension added where the name had none).
    const std::string &getFileName() const { return fileName; }
    int getFramesWritten() const { return framesWritten; }

    /// The codecs this program can encode with the installed libraries, in display order:
    /// "RAW format" (uncompressed 24-bit frames in an AVI file) always first, then "Motion
    /// JPEG (AVI)" and "H.264 (MP4)" when an encoder for them opens.
    static std::vector<std::string> getCodecList();
    /// The file name a film of `name` gets with codec `codec` (see the constructor).
    static std::string fileNameFor(const char *name, int codec);

  private:
    struct Encoder;

    bool fail(const std::string &message);
    bool open(int width, int height);

    std::string fileName;
    std::string temporaryName;
    int fps;
    int codec;
    std::unique_ptr<Encoder> encoder;
    std::string error;
    int framesWritten;
    bool closed;
};

#endif
