// WAVCreate from C#, as a .NET host calls it: P/Invoke with the strings marshalled as UTF-16.
// Renders the golden set's every-byte text (the bytes 0x01 to 0xFF of Windows-1252) at 7
// tenths, to be compared with the golden file.
//
// usage: mono host_csharp.exe FOLDER    writes FOLDER/every-byte-7.wav
using System.IO;
using System.Linq;
using System.Runtime.InteropServices;
using System.Text;

static class HostCSharp
{
    [DllImport("wavcreate", CharSet = CharSet.Unicode)]
    static extern int WAVCreate(string text, string path, int tenths);

    static int Main(string[] args)
    {
        byte[] everyByte = Enumerable.Range(1, 255).Select(b => (byte)b).ToArray();
        string text = Encoding.GetEncoding(1252).GetString(everyByte);
        string path = Path.Combine(args[0], "every-byte-7.wav");
        return WAVCreate(text, path, 7) == 999 ? 0 : 1;
    }
}
