#ifndef VELMORA_MODELREQUEST_H
#define VELMORA_MODELREQUEST_H

#include <string>

/// The remote-model descriptor: a first line "3dmodel", then "Action:", "Object:" and
/// "Resolution:" lines, which together name the request that returns a binary mesh.
class ModelRequest {
public:
    /// The request text of a descriptor file, without printing or fetching anything; false
    /// when the file cannot be opened, is not a descriptor or names no action.
    static bool read(const char *path, std::string &request);
    /// Whether the file starts with the descriptor's word, whatever its extension.
    static bool isDescriptor(const char *path);
};

#endif
