#include "LinkedMediaEntries.h"

#include "AuditionComposer.h"
#include "VideoRenderStep.h"

namespace talvian {

MediaEntries linkedMediaEntries() {
    return {&VideoRenderer::render, &AuditionComposer::timeline};
}

}  // namespace talvian
