// Where the service object meets its diagnostic trace: calls with their
// result codes and swipes as summaries (events are traced as delivery
// raises them). No text that may hold card data is written, only its length.
#include <cstdio>

#include "instance/ServiceObjectImpl.h"
#include "trace/TraceMasking.h"

namespace norvik {

void ServiceObjectCore::Impl::TraceCall(const char* method, const int32_t* pRC, const char* format, ...) {
    if (!trace.On(TraceLevel::Errors)) return;
    int32_t resultCode;
    int32_t resultCodeExtended;
    {
        ProcessGuard guard(Lock());
        resultCode = props.ResultCode;
        resultCodeExtended = props.ResultCodeExtended;
    }
    // Calls that report a result code are errors when it is not success.
    const TraceLevel level = pRC && *pRC != OPOS_SUCCESS ? TraceLevel::Errors : TraceLevel::Calls;
    if (!trace.On(level)) return;
    char arguments[Trace::kLineCapacity];
    va_list list;
    va_start(list, format);
    std::vsnprintf(arguments, sizeof arguments, format, list);
    va_end(list);
    if (pRC) {
        trace.Write(level, "call %s(%s) rc=%d ResultCode=%d ResultCodeExtended=%d", method, arguments, *pRC,
                    resultCode, resultCodeExtended);
    } else {
        trace.Write(level, "call %s(%s) ResultCode=%d ResultCodeExtended=%d", method, arguments, resultCode,
                    resultCodeExtended);
    }
}

void ServiceObjectCore::Impl::TraceCardRecord(const VorlexCardData& record, int32_t fetchResult) {
    if (!trace.On(TraceLevel::Details)) return;
    char summary[Trace::kLineCapacity];
    SummarizeCardRecord(record, fetchResult, summary, sizeof summary);
    trace.Write(TraceLevel::Details, "%s", summary);
}

}  // namespace norvik
