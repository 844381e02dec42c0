#include "layout/KVLayout.h"

bool CKVLayout::ReadLayout(FILE*) { return false; }

void CKVLayout::InitLayoutIfNeeded(MeaSourceType, uint32_t, uint32_t, uint32_t, uint32_t, bool) {}
