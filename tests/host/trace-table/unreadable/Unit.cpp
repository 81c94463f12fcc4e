TRACE_UNIT("aaaaaaaa-0000-4000-8000-000000000003");
#define TEXT "made elsewhere"
void F() { TRACE_INFO(kTraceFlagEvents, 10, TEXT); }
