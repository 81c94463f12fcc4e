TRACE_UNIT("aaaaaaaa-0000-4000-8000-000000000002");
void F() { TRACE_INFO(kTraceFlagEvents, 10, "one"); TRACE_INFO(kTraceFlagEvents, 10, "two"); }
