#ifndef VELMORA_COMMENT_H
#define VELMORA_COMMENT_H

#include <string>

/// A text record kept with an image: the key and text of one PNG text chunk. Texture
/// readers look for particular keys (for example "uv" with explicit texture coordinates).
/// Both strings are copied on construction.
class Comment
{
  public:
    /// Copies `key` and `text`; a null pointer counts as an empty string.
    Comment(const char *key, const char *text);

    const char *getKey() const { return key.c_str(); }
    const char *getText() const { return text.c_str(); }

  private:
    std::string key;
    std::string text;
};

#endif
