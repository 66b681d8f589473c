// The end-to-end tests' driver of the C# client (tests/e2e/test_clients.py and
// test_integration_guide.py run it with mono), the counterpart of preset_client_check.cc:
//
//   preset-client-check-cs [--launcher <wine>] <timeout-ms> <preset-nvidia|preset-amd>
//                          <program.exe> [arguments...]
//       runs the program through the client and prints
//       "<outcome> <action> <keep|forget> <how the run ended> <exit code|->".
//   preset-client-check-cs --classify <file>
//       for every line "<program> <command|-> <exit code|not-started|timed-out> <output as
//       hex>" of the file prints the same five words and the parsed fields, tab-separated.
//   preset-client-check-cs --version <program.exe>
//       prints the program's version.
//   preset-client-check-cs --quote <file>
//       for every line of the file, arguments as hex UTF-16 code units separated by blanks
//       ("-" for an empty one), prints their Windows command line in the same form.
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Text;
using GpuPresets;

static class PresetClientCheck
{
    static string HexOf(string text)
    {
        return string.Concat(text.Select(c => ((int)c).ToString("x4")));
    }

    static string WideOfHex(string hex)
    {
        var text = new StringBuilder();
        for (int i = 0; i + 3 < hex.Length; i += 4)
        {
            text.Append((char)Convert.ToUInt16(hex.Substring(i, 4), 16));
        }
        return text.ToString();
    }

    static byte[] BytesOfHex(string hex)
    {
        var bytes = new byte[hex.Length / 2];
        for (int i = 0; i < bytes.Length; ++i)
        {
            bytes[i] = Convert.ToByte(hex.Substring(2 * i, 2), 16);
        }
        return bytes;
    }

    static bool ProgramOf(string word, out PresetProgram program)
    {
        program = word == "preset-nvidia" ? PresetProgram.Nvidia : PresetProgram.Amd;
        return word == "preset-nvidia" || word == "preset-amd";
    }

    static string Words(PresetResult r)
    {
        return string.Join(" ", PresetClient.Name(r.Outcome), PresetClient.Name(r.Action),
                           r.KeepBackupPath ? "keep" : "forget", PresetClient.Name(r.Ended),
                           r.ExitCode.HasValue ? r.ExitCode.Value.ToString() : "-");
    }

    static int RunCase(List<string> argv)
    {
        string launcher = null;
        if (argv.Count > 1 && argv[0] == "--launcher")
        {
            launcher = argv[1];
            argv.RemoveRange(0, 2);
        }
        PresetProgram program;
        if (argv.Count < 3 || !ProgramOf(argv[1], out program))
        {
            Console.Error.WriteLine("usage: see the head of preset_client_check.cs");
            return 2;
        }
        int timeout = int.Parse(argv[0]);
        var args = argv.GetRange(3, argv.Count - 3);
        Console.WriteLine(Words(PresetClient.RunAndClassify(program, argv[2], args, timeout,
                                                            launcher)));
        return 0;
    }

    static int ClassifyFile(string path)
    {
        foreach (string text in File.ReadAllLines(path))
        {
            string[] fields = text.Split(' ');
            PresetProgram program;
            if (fields.Length < 3 || !ProgramOf(fields[0], out program))
            {
                return 2;
            }
            var run = new PresetRun();
            if (fields[2] == "not-started" || fields[2] == "timed-out")
            {
                run.How = fields[2] == "not-started" ? PresetRun.Status.NotStarted
                                                     : PresetRun.Status.TimedOut;
            }
            else
            {
                run.How = PresetRun.Status.Exited;
                run.ExitCode = int.Parse(fields[2]);
                run.Output = BytesOfHex(fields.Length > 3 ? fields[3] : "");
            }
            PresetCommand command =
                fields[1] == "-" ? PresetCommand.Other : PresetClient.CommandOf(fields[1]);
            PresetResult r = PresetClient.Classify(program, command, run);
            string parsed = r.Line == null ? "" : string.Join("\t", "", r.Line.Kind,
                r.Line.Vendor, r.Line.Supported, r.Line.Changed, r.Line.Message);
            Console.Write(Words(r) + parsed + "\n");
        }
        return 0;
    }

    static int Main(string[] argv)
    {
        if (argv.Length == 2 && argv[0] == "--classify")
        {
            return ClassifyFile(argv[1]);
        }
        if (argv.Length == 2 && argv[0] == "--version")
        {
            string version = PresetClient.ProgramVersion(argv[1]);
            Console.WriteLine(version ?? "none");
            return version == null ? 1 : 0;
        }
        if (argv.Length == 2 && argv[0] == "--quote")
        {
            foreach (string row in File.ReadAllLines(argv[1]))
            {
                var args = row.Split(new[] { ' ' }, StringSplitOptions.RemoveEmptyEntries)
                    .Select(hex => hex == "-" ? "" : WideOfHex(hex));
                Console.Write(HexOf(PresetClient.WindowsCommandLine(args)) + "\n");
            }
            return 0;
        }
        return RunCase(argv.ToList());
    }
}
