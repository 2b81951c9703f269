#ifndef VELMORA_EYEDOMEPASS_H
#define VELMORA_EYEDOMEPASS_H

/// Eye-dome lighting of what the current viewport holds: reads its depth buffer, computes the
/// darkening (EyeDome) with the current projection matrix and blends it over the colours.
/// Nothing happens outside the ordinary render mode (an EPS capture's feedback pass).
class EyeDomePass {
public:
    static void apply(float strength, int radius);
};

#endif
