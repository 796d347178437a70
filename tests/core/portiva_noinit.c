/* A board library that lacks UsbInit: the other exports must still work. */
unsigned char UsbSetIOState(unsigned char devNum, unsigned char pinNr, unsigned char state) {
    return (unsigned char)(devNum == 0 && pinNr == 16 && state == 1);
}
