// The end-to-end tests' driver of the C# client (tests/e2e/test_clients.py and
// test_integration_guide.py run it with mono), the counterpart of preset_client_check.cc:
//
//   preset-client-check-cs [--launcher <wine>] [--echo <echo.exe>] <timeout-ms>
//                          <preset-nvidia|preset-amd> <program.exe> [arguments...]
//       with --echo, first runs "<echo.exe> --echo <arguments>" through the client and fails
//       unless every argument comes back unchanged; then runs the program through the client
//       and prints "<outcome> <action> <keep|forget> <how the run ended> <exit code|->".
//   preset-client-check-cs --classify <file>
//       for every line "<program> <command|-> <exit code|not-started|timed-out> <output as
//       hex>" of the file prints the same five words and the parsed fields, tab-separated.
//   preset-client-check-cs --version <program.exe>
//       prints the program's version.
//   preset-client-check-cs --quote [arguments...]
//       prints the Windows command line of the arguments as hex UTF-16 code units.
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
        string launcher = null, echo = null;
        while (argv.Count > 1 && (argv[0] == "--launcher" || argv[0] == "--echo"))
        {
            if (argv[0] == "--launcher")
            {
                launcher = argv[1];
            }
            else
            {
                echo = argv[1];
            }
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
        if (echo != null)
        {
            var echoed = PresetClient.RunPreset(echo, new[] { "--echo" }.Concat(args).ToList(),
                                                PresetClient.DefaultTimeoutMs, launcher);
            string expected = string.Concat(args.Select(a => HexOf(a) + "\n"));
            if (echoed.How != PresetRun.Status.Exited || echoed.ExitCode != 0 ||
                Encoding.ASCII.GetString(echoed.Output) != expected)
            {
                Console.WriteLine("arguments-changed");
                return 1;
            }
        }
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
        if (argv.Length >= 1 && argv[0] == "--quote")
        {
            Console.WriteLine(HexOf(PresetClient.WindowsCommandLine(argv.Skip(1))));
            return 0;
        }
        return RunCase(argv.ToList());
    }
}
