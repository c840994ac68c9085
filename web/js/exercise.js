'use strict';
// An exercise in the page: an exercise file's scenario drawn for one
// student, the student's predictions, then the run and its grading. The
// reading, the draw, the sheet and the grading are linksim-exercise's own
// core compiled to WebAssembly (exercise/page.cpp), and the run is
// linksim-arq's, so the page grades as `linksim-exercise grade` does, word
// for word, refusals included.
//
// The address names the exercise and the student,
// #exercise=go_back_n&student=s1234567: `exercise` is the name of a set the
// page carries (the tree's exercises/NAME.txt, named NAME.txt in messages),
// or, where it holds a line break, an exercise file's whole text (named
// exercise.txt), so that an instructor's own exercise travels in its link.

const LAB_EXERCISE_TEXT_FILE = 'exercise.txt';

/// The exercise core, one instance for the page: it keeps no state from
/// one call to the next.
const ExerciseCore = (() => {
  let core = null;
  let loading = null;

  /// Compiles and instantiates the core, once; resolves when it can be
  /// called.
  function load() {
    if (!loading) {
      loading = (async () => {
        const module = await WebAssembly.compile(Engine.moduleBytes('wasm-exercise'));
        core = await createLinksimExercise({
          instantiateWasm(imports, done) {
            WebAssembly.instantiate(module, imports).then((made) => done(made, module));
            return {};
          },
        });
      })();
    }
    return loading;
  }

  /// Calls the core's step `fields[0]` with the rest as its arguments, each
  /// a netstring of its UTF-8 bytes; gives the answer, parsed.
  function call(...fields) {
    const encoder = new TextEncoder();
    const parts = [];
    for (const field of fields) {
      const bytes = encoder.encode(String(field));
      parts.push(encoder.encode(`${bytes.length}:`), bytes, encoder.encode(','));
    }
    const size = parts.reduce((sum, part) => sum + part.length, 0);
    const request = core._malloc(size);
    let at = request;
    for (const part of parts) {
      core.HEAPU8.set(part, at);
      at += part.length;
    }
    const answer = core._lab_exercise(request, size);
    core._free(request);
    let end = answer;
    while (core.HEAPU8[end] !== 0) ++end;
    return JSON.parse(new TextDecoder().decode(core.HEAPU8.subarray(answer, end)));
  }

  return {load, call};
})();

/// The exercise sets the page carries, name -> text.
function labExerciseSets() {
  const sets = new Map();
  for (const script of document.querySelectorAll('script.lab-exercise')) {
    sets.set(script.dataset.name, script.textContent);
  }
  return sets;
}

/// An open exercise: where it comes from, the student, the draw, and once
/// graded the grading.
class LabExercise {
  /// `value` is the address's `exercise`, `student` its `student`.
  constructor(value, student) {
    this.value = value;
    this.student = student;
    const sets = labExerciseSets();
    this.file = null;  // the name messages give it; null: no such set
    this.text = '';
    if (value.includes('\n')) {
      this.file = LAB_EXERCISE_TEXT_FILE;
      this.text = value;
    } else if (sets.has(value)) {
      this.file = `${value}.txt`;
      this.text = sets.get(value);
    }
    this.opened = null;  // the core's answer to open
    this.graded = null;  // the core's answer to grade
    this.answers = '';  // as graded
  }

  /// The address fragment that opens it.
  toFragment() {
    const pairs = [['exercise', this.value]];
    if (this.student !== '') pairs.push(['student', this.student]);
    return pairs.map(([n, v]) => `${n}=${encodeURIComponent(v)}`).join('&');
  }

  /// Reads the exercise and draws the student's values: the core's answer,
  /// with a problem where there is none to show.
  open() {
    this.graded = null;
    if (this.file === null) {
      const names = [...labExerciseSets().keys()].join(', ');
      this.opened = {problem: `The page carries no exercise ${this.value}: it has ${names}.`};
    } else {
      this.opened = ExerciseCore.call('open', this.file, this.text, this.student);
    }
    return this.opened;
  }

  /// The scenario the student runs, in the exercise's own order.
  scenario(link) {
    const scenario = new Scenario(link);
    scenario.order = this.opened.variables.map(([name]) => name);
    for (const [name, value] of this.opened.variables) {
      if (name === 'LINKSIM_ARQ') {
        scenario.protocols = [value];
      } else {
        scenario.variables.set(name, value);
      }
    }
    for (const [key, value] of labLinkSettings(this.opened.settings)) {
      scenario.setLink(key, value);
    }
    return scenario;
  }

  /// A problem with `answers` (the answers file's text) before any run, or
  /// null.
  checkAnswers(answers) {
    const checked = ExerciseCore.call('answers', this.file, this.text, this.student, answers);
    return checked.problem || null;
  }

  /// Grades `answers` from `result`, the run of the scenario (Engine.run's,
  /// its files named `files`).
  grade(answers, result, files) {
    this.answers = answers;
    const text = (name) => (typeof result.files[name] === 'string' ? result.files[name] : '');
    this.graded = ExerciseCore.call('grade', this.file, this.text, this.student, answers,
        result.status === null ? -1 : result.status, result.stdout, result.stderr,
        text(files.trace), text(files.stats));
    return this.graded;
  }

  /// The trace's lines each answer comes from: line -> question numbers.
  answerLines() {
    const lines = new Map();
    if (!this.graded || !this.graded.answers) return lines;
    this.graded.answers.forEach((answer, q) => {
      if (answer.place !== 'trace') return;
      for (const line of answer.lines) {
        lines.set(line, (lines.get(line) || []).concat([q + 1]));
      }
    });
    return lines;
  }
}

// --- The exercise panel --------------------------------------------------------

/// Opens the address's exercise: its sheet and a prediction for each
/// question, and no run until the student asks for the grading. The core
/// is compiled the first time, not for a page that opens no exercise.
async function openExercise() {
  const exercise = lab.exercise;
  await ExerciseCore.load();
  if (lab.exercise !== exercise) return;  // the address changed meanwhile
  lab.answerLines = null;
  if (!exercise.open().problem) {
    lab.scenario = exercise.scenario(linkDefaults());
    showScenario();
  }
  showColumns([]);
  showExercise();
  $('status').textContent = !exercise.opened.problem ?
    'Write your predictions, then run the scenario and have them graded.' :
    exercise.student.trim() === '' ? 'Type your identifier as Student: your values are drawn from it.' : '';
}

/// Shows the exercise, or hides its panel where there is none.
function showExercise() {
  const exercise = lab.exercise;
  $('exercise').hidden = !exercise;
  if (!exercise) return;
  const opened = exercise.opened || {};  // {} until the core has read it
  $('exercise-title').textContent = opened.title || 'An exercise';
  $('student').value = exercise.student;
  $('exercise-problem').textContent = opened.problem || '';
  $('exercise-sheet').textContent = opened.sheet || '';
  $('grading').textContent = '';
  const list = $('predictions');
  list.textContent = '';
  (opened.questions || []).forEach((text, q) => {
    const item = element('li');
    const label = element('label');
    label.appendChild(element('span', 'question', text));
    const input = element('input');
    input.type = 'text';
    input.id = `prediction-${q + 1}`;
    input.autocomplete = 'off';
    input.spellcheck = false;
    label.appendChild(input);
    item.append(label, element('span', 'result'));
    list.appendChild(item);
  });
  $('grade').disabled = Boolean(opened.problem);
}

/// Checks the predictions as an answers file, then runs the scenario and
/// grades them from the run.
async function gradeExercise() {
  const exercise = lab.exercise;
  const inputs = [...$('predictions').querySelectorAll('input')];
  const answers = inputs.map((input) => input.value + '\n').join('');
  // Nothing of the grading before stays beside this one's refusal or report.
  $('grading').textContent = '';
  for (const result of $('predictions').querySelectorAll('.result')) {
    result.textContent = '';
    result.className = 'result';
  }
  const problem = exercise.checkAnswers(answers);
  $('exercise-problem').textContent = problem || '';
  if (problem) {
    ++lab.gradings;
    return;
  }
  lab.scenario = exercise.scenario(linkDefaults());
  lab.answerLines = null;
  showScenario();
  const columns = await runScenario();
  if (!columns || lab.exercise !== exercise) return;
  const graded = exercise.grade(answers, columns[0].result, columns[0].run.files);
  $('exercise-problem').textContent = graded.problem || '';
  $('grading').textContent = graded.report || '';
  lab.answerLines = exercise.answerLines();
  (graded.answers || []).forEach((answer, q) => {
    const result = $('predictions').children[q].querySelector('.result');
    const word = answer.right ? 'right' : inputs[q].value.trim() === '' ? 'left out' : 'wrong';
    result.textContent = word;
    result.className = `result ${answer.right ? 'right' : 'wrong'}`;
    if (answer.lines.length > 0) {
      const show = element('button', '', `its row${answer.lines.length > 1 ? 's' : ''}`);
      show.title = answer.from;
      show.addEventListener('click', () => seekLine(lab.columns[0], answer.lines[0]));
      result.appendChild(show);
    }
  });
  render();
  ++lab.gradings;
}

function bindExercise() {
  const sets = $('exercise-sets');
  for (const name of labExerciseSets().keys()) sets.appendChild(element('option', '', name)).value = name;
  sets.addEventListener('change', () => {
    if (sets.value === '') return;
    const student = lab.exercise ? lab.exercise.student : '';
    location.hash = new LabExercise(sets.value, student).toFragment();
    sets.value = '';
  });
  $('student').addEventListener('change', () => {
    lab.exercise.student = $('student').value;
    history.replaceState(null, '', '#' + lab.exercise.toFragment());
    openExercise();
  });
  $('grade').addEventListener('click', gradeExercise);
  $('open-exercise').addEventListener('change', async (event) => {
    const file = event.target.files[0];
    if (!file) return;
    event.target.value = '';
    // The text, which holds a line break, is the exercise itself.
    const text = await file.text();
    location.hash = new LabExercise(text.includes('\n') ? text : text + '\n', '').toFragment();
  });
}
