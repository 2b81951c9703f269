#ifndef VELMORA_GLSTATE_H
#define VELMORA_GLSTATE_H

/// Turns off every clipping plane the current context has, so that an overlay drawn in window
/// coordinates is not cut by the planes an object set for itself. Part of GL_ENABLE_BIT.
void disableClipPlanes();

/// Unpacks pixel rows as they lie in memory: alignment 1, no row length and no skipped rows
/// or pixels. Part of GL_CLIENT_PIXEL_STORE_BIT.
void unpackTightRows();

#endif
