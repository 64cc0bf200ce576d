// The process-wide failure and crash plans of the Linux platform layer.
#include "posix_faults.h"

#include <unistd.h>

#include <cerrno>

FaultPlanRecord FaultPlan[kFaultStepCount];
CrashPlanRecord CrashPlan;

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
    CrashPlan = CrashPlanRecord{};
}

void ArmCrash(CrashPoint point, size_t bytesFirst)
{
    CrashPlan.Armed = 1;
    CrashPlan.Point = point;
    CrashPlan.BytesFirst = bytesFirst;
}

void CrashAt(CrashPoint point)
{
    if (CrashPlan.Armed != 0 && CrashPlan.Point == point) _exit(kCrashExitStatus);
}

void CrashPartWay(CrashPoint point, int descriptor, const std::string& bytes)
{
    if (CrashPlan.Armed == 0 || CrashPlan.Point != point) return;
    const size_t part = CrashPlan.BytesFirst < bytes.size() ? CrashPlan.BytesFirst : bytes.size();
    size_t done = 0;
    while (done < part) {
        const ssize_t count = pwrite(descriptor, bytes.data() + done, part - done, static_cast<off_t>(done));
        if (count < 0 && errno != EINTR) break;
        if (count > 0) done += static_cast<size_t>(count);
    }
    _exit(kCrashExitStatus);
}
