/* Only ever signed, never run: the publisher check's test files. */
int main(void)
{
    return 0;
}
