#include "host/TrayHint.h"

RelaxedAtomic<int> TrayHintSource{0};
SharedText TrayHintOverride;
