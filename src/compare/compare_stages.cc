// Placeholder until the comparison lands: the stage moves, nothing opens.
#include "compare/compare_stages.h"

namespace {
int stage = 0;
}

void setCompareStage(int value) { stage = value; }
int compareStage() { return stage; }
void advanceCompareStage() { ++stage; }
void compareIfReady() {}
int openCompareLog(int) { return 0; }
