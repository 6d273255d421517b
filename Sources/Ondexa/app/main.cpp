// Vendalum's entry. The windows, the record controller and the editors are
// attached here as they are built; for now the program starts and ends.
int main(int, char**)
{
    return 0;
}
