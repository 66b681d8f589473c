// The end-to-end tests' driver of the C# client (tests/e2e/test_clients.py and
// test_integration_guide.py run it with mono), the counterpart of preset_client_check.cc:
//
//   preset-client-check-cs [--launcher <wine>] [--detail] [--cancel-on <log>] <timeout-ms>
//                          <preset-nvidia|preset-amd> <program.exe> [arguments...]
//       runs the program through the client's RunAsync and prints "<outcome> <action>
//       <keep|forget> <how the run ended> <exit code|-> <standard error as hex|-> <ms from
//       cancel to answer|->". With --cancel-on it cancels the run once the file <log> holds
//       the word "sleep" (any case).
//   preset-client-check-cs --classify <file>
//       for every line "<program> <command|-> <exit code|not-started|timed-out|cancelled>
//       <output as hex>" of the file prints the same five words and the parsed fields,
//       tab-separated.
//   preset-client-check-cs --classify-code <file>
//       for every line "<program> <command|-> <exit code>" prints the five words of the
//       client's classification from the exit code alone.
//   preset-client-check-cs --texts
//       prints "<outcome>\t<English text>\t<Portuguese text>" for every outcome, UTF-8.
//   preset-client-check-cs --version <program.exe> | --client-version
//       prints the program's version, or the client's.
//   preset-client-check-cs --quote <file>
//       for every line of the file, arguments as hex UTF-16 code units separated by blanks
//       ("-" for an empty one), prints their Windows command line in the same form.
using System;
using System.Collections.Generic;
using System.IO;
using System.Diagnostics;
using System.Linq;
using System.Text;
using System.Threading;
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

    static string HexOfBytes(byte[] bytes)
    {
        return bytes.Length == 0 ? "-" : string.Concat(bytes.Select(b => b.ToString("x2")));
    }

    static void WriteOut(string text)
    {
        byte[] bytes = new UTF8Encoding(false).GetBytes(text);
        using (Stream stdout = Console.OpenStandardOutput())
        {
            stdout.Write(bytes, 0, bytes.Length);
        }
    }

    /// Cancels `source` once the file at `log` holds "sleep" (a simulated driver's call log
    /// when it sleeps in a driver call); returns the clock of that moment, read once it came.
    static Func<long> CancelOnSleep(string log, CancellationTokenSource source, Stopwatch clock)
    {
        long at = -1;
        var thread = new Thread(() => {
            while (!source.IsCancellationRequested)
            {
                string text = File.Exists(log) ? File.ReadAllText(log) : "";
                if (text.IndexOf("sleep", StringComparison.OrdinalIgnoreCase) >= 0)
                {
                    Interlocked.Exchange(ref at, clock.ElapsedMilliseconds);
                    source.Cancel();
                    return;
                }
                Thread.Sleep(10);
            }
        });
        thread.IsBackground = true;
        thread.Start();
        return () => Interlocked.Read(ref at);
    }

    static int RunCase(List<string> argv)
    {
        string launcher = null, log = null;
        bool detail = false;
        while (argv.Count > 1 && argv[0].StartsWith("--", StringComparison.Ordinal))
        {
            if (argv[0] == "--detail")
            {
                detail = true;
                argv.RemoveAt(0);
                continue;
            }
            if (argv[0] == "--launcher")
            {
                launcher = argv[1];
            }
            else if (argv[0] == "--cancel-on")
            {
                log = argv[1];
            }
            else
            {
                break;
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
        var clock = Stopwatch.StartNew();
        using (var source = new CancellationTokenSource())
        {
            Func<long> cancelledAt = log == null ? () => -1L
                                                 : CancelOnSleep(log, source, clock);
            PresetResult r = PresetClient.RunAsync(program, argv[2], args, source.Token, timeout,
                                                   launcher, detail).Result;
            long answered = clock.ElapsedMilliseconds;
            long at = cancelledAt();
            Console.Write(Words(r) + " " + HexOfBytes(Encoding.UTF8.GetBytes(r.Detail)) + " " +
                          (at < 0 ? "-" : (answered - at).ToString()) + "\n");
        }
        return 0;
    }

    static int ClassifyCodes(string path)
    {
        foreach (string text in File.ReadAllLines(path))
        {
            string[] fields = text.Split(' ');
            PresetProgram program;
            if (fields.Length != 3 || !ProgramOf(fields[0], out program))
            {
                return 2;
            }
            PresetCommand command =
                fields[1] == "-" ? PresetCommand.Other : PresetClient.CommandOf(fields[1]);
            Console.Write(Words(PresetClient.ClassifyExitCode(program, command,
                                                              int.Parse(fields[2]))) + "\n");
        }
        return 0;
    }

    static int Texts()
    {
        var text = new StringBuilder();
        foreach (PresetOutcome outcome in Enum.GetValues(typeof(PresetOutcome)))
        {
            text.Append(PresetClient.Name(outcome)).Append('\t')
                .Append(PresetClient.OutcomeText(outcome, PresetLanguage.English)).Append('\t')
                .Append(PresetClient.OutcomeText(outcome, PresetLanguage.Portuguese)).Append('\n');
        }
        WriteOut(text.ToString());
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
            var unended = new Dictionary<string, PresetRun.Status> {
                { "not-started", PresetRun.Status.NotStarted },
                { "timed-out", PresetRun.Status.TimedOut },
                { "cancelled", PresetRun.Status.Cancelled },
            };
            if (unended.ContainsKey(fields[2]))
            {
                run.How = unended[fields[2]];
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
        if (argv.Length == 2 && argv[0] == "--classify-code")
        {
            return ClassifyCodes(argv[1]);
        }
        if (argv.Length == 1 && argv[0] == "--texts")
        {
            return Texts();
        }
        if (argv.Length == 1 && argv[0] == "--client-version")
        {
            Console.WriteLine(PresetClient.Version);
            return 0;
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
