// The process-wide failure plan of the Linux platform layer.
#include "posix_faults.h"

FaultPlanRecord FaultPlan[kFaultStepCount];

void FailStepAt(FaultStep step, uint32_t call, bool fromThenOn)
{
    FaultPlan[step].FailAt = call;
    FaultPlan[step].FromThenOn = fromThenOn ? 1 : 0;
    FaultPlan[step].Calls = 0;
}

bool StepFails(FaultStep step)
{
    FaultPlanRecord& plan = FaultPlan[step];
    ++plan.Calls;
    if (plan.FailAt == 0) return false;
    return plan.FromThenOn ? plan.Calls >= plan.FailAt : plan.Calls == plan.FailAt;
}

void ResetFaultsForTests()
{
    for (FaultPlanRecord& plan : FaultPlan)
        plan = FaultPlanRecord{};
}
