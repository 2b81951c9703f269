#ifndef VELMORA_SPLATCOMPARISON_H
#define VELMORA_SPLATCOMPARISON_H

class GLMachine;

/// How well the splat scenes of a scene reproduce the photographs they were trained on.
namespace SplatComparison {

/// For the current camera's current original view, draws every splat scene from that view at
/// the photograph's size over the scene's background (as `velmora-render --view N --size WxH
/// --mode splats` does) and prints the PSNR against the view's photograph. Prints why not when
/// there is no camera, no photograph, no splat scene or the sizes differ; false then.
bool printPsnr(GLMachine &machine);

} // namespace SplatComparison

#endif
