      program layouts
      end
