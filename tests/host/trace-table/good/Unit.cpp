TRACE_UNIT("aaaaaaaa-0000-4000-8000-000000000001");

void F(int error)
{
    TRACE_ERROR(kTraceFlagEvents, 10, "cannot open; error %u", error);
    TRACE_VERBOSE(kTraceFlagGeneral,
                  11, "quoted \"%ls\" [x]", L"x");
}
