#include "settings/MGrid9StimulatorProperty.h"

bool CMGrid9StimulatorProperty::ReadProperty(FILE*) { return false; }
