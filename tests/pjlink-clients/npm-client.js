// Drives qvx-bridge through the npm package pjlink, as a venue's Node.js
// controller would, and prints what the package made of each answer, one line
// each, for tests/check-pjlink-clients.sh to compare.
//
//   node npm-client.js MODULE OPEN LOCKED SILENT PASSWORD
//
// MODULE is the installed package's folder; OPEN, LOCKED and SILENT are the
// PJLink ports of a projector without a password, one with PASSWORD and one
// that never answers its line. The package keeps one connection per projector
// and sends the digest on its first command only.
'use strict';

const [modulePath, openPort, lockedPort, silentPort, password] = process.argv.slice(2);
const PJLink = require(modulePath);

// Home Assistant's time-out: the longest a controller of these waits.
const kAnswerMs = 10000;
// Past the bridge's 30 s idle close, so that the package must connect again.
const kIdleMs = 31000;

const kPowerWords = ['off', 'on', 'cooling', 'warm-up'];
const kErrorFields = ['fan', 'lamp', 'temperature', 'cover', 'filter', 'other'];

// A call of the package as a promise of [error, ...values], or a time-out.
function call(projector, method, ...args) {
    return new Promise((resolve) => {
        const timer = setTimeout(() => resolve([new Error(`no answer within ${kAnswerMs} ms`)]), kAnswerMs);
        projector[method](...args, (error, ...values) => {
            clearTimeout(timer);
            resolve([error, ...values]);
        });
    });
}

function errorWord(error) {
    return error.message.toLowerCase();
}

// Each check: the package's method, its arguments, and the words its values make.
const kReads = [
    ['power', 'getPowerState', [], (state) => kPowerWords[state] ?? `state ${state}`],
    ['lamps', 'getLamps', [], (lamps) => lamps.map((lamp) => `${lamp.hours} ${lamp.on ? 'on' : 'off'}`).join(', ')],
    // The package gives null where every field is fine, and false for a fine field.
    ['errors', 'getErrors', [], (errors) => kErrorFields.map((field) => `${field} ${(errors && errors[field]) || 'ok'}`).join(', ')],
    ['inputs', 'getInputs', [], (inputs) => inputs.map((input) => input.code).join(' ')],
    // The package splits every answer at its spaces.
    ['name', 'getName', [], (...words) => words.join(' ')],
    ['manufacturer', 'getManufacturer', [], (...words) => words.join(' ')],
    ['product', 'getModel', [], (product) => product],
    ['info', 'getInfo', [], (...words) => words.join(' ')],
    ['input', 'getInput', [], (input) => input.code],
];
const kSwitches = [
    ['power-on', 'powerOn', [], () => 'OK'],
    ['power', 'getPowerState', [], kReads[0][3]],
    ['lamps', 'getLamps', [], kReads[1][3]],
    ['input-set', 'setInput', [21], () => 'OK'],
    ['input', 'getInput', [], (input) => input.code],
    ['mute', 'getMute', [], (mute) => `video ${mute.video ? 'on' : 'off'}, audio ${mute.audio ? 'on' : 'off'}`],
    ['mute-set', 'setMute', [{ video: true, audio: true }], () => 'OK'],
    ['mute', 'getMute', [], (mute) => `video ${mute.video ? 'on' : 'off'}, audio ${mute.audio ? 'on' : 'off'}`],
];

async function run(label, projector, checks, lines) {
    for (const [what, method, args, words] of checks) {
        const [error, ...values] = await call(projector, method, ...args);
        lines.push(`${label} ${what} ${error ? errorWord(error) : words(...values)}`);
    }
}

function idle() {
    return new Promise((resolve) => setTimeout(resolve, kIdleMs));
}

async function main() {
    const open = new PJLink('127.0.0.1', Number(openPort));
    const locked = new PJLink('127.0.0.1', Number(lockedPort), password);
    const silent = new PJLink('127.0.0.1', Number(silentPort));
    const wrong = new PJLink('127.0.0.1', Number(lockedPort), `${password}-wrong`);
    const lines = { open: [], locked: [], silent: [], wrong: [] };

    await Promise.all([
        (async () => {
            await run('open', open, kReads, lines.open);
            await run('open', open, kSwitches, lines.open);
        })(),
        (async () => {
            await run('locked', locked, kReads, lines.locked);
            // The bridge closes the connection meanwhile: the package connects
            // again, and authenticates again, at its next command.
            await idle();
            await run('locked', locked, kSwitches, lines.locked);
        })(),
        run('silent', silent, [kReads[0], kSwitches[0]], lines.silent),
    ]);
    // After the right password's commands, so that the bridge's slowing of
    // wrong passwords holds up none of them.
    await run('wrong', wrong, [kReads[0]], lines.wrong);

    for (const projector of [open, locked, silent, wrong])
        projector.disconnect();
    for (const label of Object.keys(lines))
        for (const line of lines[label])
            console.log(line);
}

main().catch((error) => {
    console.error(error);
    process.exit(1);
});
