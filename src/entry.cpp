#include "entry.h"

#include "modMain.h"

void RunMain() {
  try {
    modMain::Main();
  } catch (const Failure& failure) {
    platform::ReportFailure(failure);
    platform::End(Failure::StatusOf(failure.Kind()));
  }
}
